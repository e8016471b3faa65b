// Helpers shared by the tests: where the real samples live, scratch files, and
// documents opened through the module's internals.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/nitffile.h"
#include "image/data/imgmodes.h"
#include "kernel.h"
#include "nitfgen.h"

namespace testing_support {

namespace fs = std::filesystem;

// ../shared/samples beside the project, or $NITF_SAMPLES.
inline fs::path samples_dir() {
  if (const char* env = std::getenv("NITF_SAMPLES"); env && *env) return env;
  return fs::path(KVNTF_SOURCE_DIR) / ".." / "shared" / "samples";
}

inline fs::path sample(const std::string& relative) {
  return samples_dir() / relative;
}

// Skips the test with a clear word when the sample folder is missing (in CI it is
// always there).
#define REQUIRE_SAMPLES()                                                            \
  do {                                                                               \
    if (!std::filesystem::exists(testing_support::samples_dir()))                    \
      GTEST_SKIP() << "real samples not found at " << testing_support::samples_dir() \
                   << " (set NITF_SAMPLES)";                                         \
  } while (0)

// The second folder of real files (../shared/more-samples), most of them refused.
inline fs::path more_samples_dir() {
  return samples_dir().parent_path() / "more-samples";
}

// Every .ntf/.nsf/.NTF file below the samples folder (or `folder`), sorted.
inline std::vector<fs::path> all_samples(const fs::path& folder = samples_dir()) {
  std::vector<fs::path> out;
  if (!fs::exists(folder)) return out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (e.is_regular_file() && (ext == ".ntf" || ext == ".nsf")) out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Every real file of both sample folders (neither pictures nor notes), sorted.
inline std::vector<fs::path> real_files() {
  std::vector<fs::path> out;
  for (const fs::path& folder : {samples_dir(), more_samples_dir()})
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.is_regular_file() && e.path().extension() != ".png" && e.path().extension() != ".md" &&
          e.path().extension() != ".tsv")
        out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

// A scratch folder removed at the end of the test.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/kvntfu-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path file(const std::string& name) const { return path_ / name; }
  // Writes bytes to a new file in the folder and returns its path.
  fs::path write(const std::string& name, const std::string& bytes) const {
    nitfgen::write_file(file(name).string(), bytes);
    return file(name);
  }

 private:
  fs::path path_;
};

inline std::wstring wide(const fs::path& p) {
  std::string s = p.string();
  return std::wstring(s.begin(), s.end());  // test paths are ASCII
}

// A document parsed through the parse driver; the result code in `result`.
struct Parsed {
  kernel::Tracked<NitfDocument> document = kernel::make_tracked<NitfDocument>();
  int result = 0;
};

inline Parsed parse(const fs::path& p) {
  Parsed out;
  out.result = nitf::parse_file(out.document.get(), wide(p).c_str());
  return out;
}

// Reads only the file header of a file into a fresh document (segments unread).
inline Parsed read_header_only(const fs::path& p) {
  Parsed out;
  NitfDocument* d = out.document.get();
  d->file = kernel::open_file(wide(p).c_str(), kernel::kModeRead, kernel::kPermRead);
  d->file_size = kernel::file_size(d->file);
  nitf::StreamingFileHeader sfh;
  nitf::HeaderSource source{d->file, d->file_size, &d->streaming, &sfh};
  out.result = nitf::read_file_header(&d->header, source, nitf::ReadMode::kNormal);
  if (out.result == RET_SUCCESS) {
    d->image_count = d->source_image_count = d->header.images.count;
    d->graphic_count = d->source_graphic_count = d->header.graphics.count;
    d->text_count = d->source_text_count = d->header.texts.count;
    d->des_count = d->header.des.count;
  }
  return out;
}

struct DecodedImage {
  Parsed parsed;
  kernel::Bitmap bitmap;
  int result = 0;
  ~DecodedImage() { kernel::free_bitmap(&bitmap); }
  const nitf::NitfImageSubheader& image(std::uint32_t i = 0) const {
    return *parsed.document->images[i];
  }
};

// Parses the file and reads one image (with the decoders of `load`, when given); `result`
// is the first failing step's code.
inline std::unique_ptr<DecodedImage> decode_image(const fs::path& p, std::uint32_t index = 0,
                                                  const FltLoadRequest* load = nullptr) {
  auto d = std::make_unique<DecodedImage>();
  d->parsed = parse(p);
  d->result = d->parsed.result;
  if (d->result == RET_SUCCESS)
    d->result = nitf::read_image(d->parsed.document.get(), index, &d->bitmap, load);
  return d;
}

// Image `index` of the file `bytes` cut at eight places in its subheader and data, then
// `variants` times with three bytes of its subheader or first `data_bytes` bytes of data
// replaced at random: a cut image gives a code, a damaged one a code or a picture, and a
// code always leaves the output empty.
inline void expect_damage_refused(const std::string& bytes, std::uint32_t index, int variants,
                                  std::size_t data_bytes) {
  TempDir dir;
  const fs::path original = dir.write("original.ntf", bytes);
  Parsed p = parse(original);
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto start =
      static_cast<std::size_t>(nitf::segment_offset(*p.document, nitf::SegmentKind::kImage, index));
  const auto data = static_cast<std::size_t>(
      nitf::segment_data_offset(*p.document, nitf::SegmentKind::kImage, index));
  const std::size_t end = data + p.document->header.images.data(index);
  auto check = [&](const std::string& changed, bool cut) {
    auto d = decode_image(dir.write("damaged.ntf", changed), index);
    const kernel::Bitmap& b = d->bitmap;
    EXPECT_TRUE(!cut || d->result != RET_SUCCESS) << "cut at " << changed.size();
    if (d->result != RET_SUCCESS) {
      EXPECT_TRUE(b.data == nullptr && b.palette == nullptr && b.width == 0) << d->result;
    }
  };
  for (int k = 1; k <= 8; ++k) check(bytes.substr(0, start + (end - start) * k / 8 - 1), true);
  std::mt19937 random(static_cast<unsigned>(bytes.size() + index));
  const char junk[] = "0123456789 -9\xFF";
  const std::size_t until = std::min(end, data + data_bytes);
  for (int v = 0; v < variants; ++v) {
    std::string changed = bytes;
    for (int n = 0; n < 3; ++n) {  // the subheader and the data get as many hits
      const std::size_t at = random() % 2 || until == data ? start + random() % (data - start)
                                                           : data + random() % (until - data);
      changed[at] = random() % 2 ? junk[random() % (sizeof junk - 1)] : static_cast<char>(random());
    }
    check(changed, false);
  }
}
// A binary PGM or PPM (P5 or P6); samples above 255 take two big-endian bytes. `raw`:
// grey samples are a stream's own values, not scaled to maxval.
struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::uint32_t maxval = 0;
  bool raw = false;
  std::vector<std::uint32_t> samples;
  std::uint32_t at(int x, int y, int c) const {
    return samples[(std::size_t(y) * width + x) * channels + c];
  }
};

inline std::optional<Pnm> parse_pnm(const std::string& d) {
  std::istringstream in(d);
  std::string magic;
  Pnm p;
  auto field = [&](auto& value) {
    while ((in >> std::ws).peek() == '#') in.ignore(1 << 20, '\n');  // opj_decompress's comment
    in >> value;
  };
  field(magic), field(p.width), field(p.height), field(p.maxval);
  in.get();
  p.channels = magic == "P6" ? 3 : 1;
  const std::size_t at = std::size_t(in.tellg()), bytes = p.maxval > 255 ? 2 : 1;
  const std::size_t count = std::size_t(p.width) * p.height * p.channels;
  if (!in || (magic != "P5" && magic != "P6") || d.size() < at + count * bytes) return {};
  const auto* b = reinterpret_cast<const std::uint8_t*>(d.data());
  for (std::size_t i = at; i < at + count * bytes; i += bytes)
    p.samples.push_back(bytes == 1 ? b[i] : std::uint32_t(b[i]) << 8 | b[i + 1]);
  return p;
}

// The picture `command` writes to the PNM file it names {out}. Its status is not asked:
// djpeg's is 2 after warnings (extraneous bytes, say), with a whole picture.
inline std::optional<Pnm> written(std::string command) {
  TempDir dir;
  const fs::path out = dir.file("out.pnm");
  command.replace(command.find("{out}"), 5, "'" + out.string() + "'");
  if (std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == -1) return std::nullopt;
  return parse_pnm(nitfgen::read_file(out.string()));
}

// A JPEG stream from its SOI marker (djpeg refuses the fill bytes some producers put
// before it); anything else as it is.
inline std::string from_soi(const std::string& s) {
  const std::size_t first = s.find_first_not_of('\xFF');
  return first != std::string::npos && first > 0 && s[first] == '\xD8' ? s.substr(first - 1) : s;
}

// djpeg's picture of a JPEG stream, opj_decompress's of a JPEG 2000 codestream or JP2 file.
inline std::optional<Pnm> codec_picture(const std::string& stream) {
  TempDir dir;
  const std::string s = from_soi(stream);
  const bool jpeg = s.size() > 1 && s[0] == '\xFF' && s[1] == '\xD8';
  const bool jp2 = !jpeg && s.size() > 4 && s[3] == 0x0C;
  const std::string in = dir.write(jpeg ? "s.jpg" : jp2 ? "s.jp2" : "s.j2k", s).string();
  return written(jpeg ? "djpeg -pnm -outfile {out} '" + in + "'"
                      : "opj_decompress -quiet -i '" + in + "' -o {out}");
}

// A document of the public API, destroyed at the end of its scope.
struct PublicDoc {
  NitfDocument* d = nullptr;
  int result = 0;
  PublicDoc() : result(Kv_NITFCreate(&d, nullptr)) {}
  explicit PublicDoc(const fs::path& p) : result(Kv_NITFCreateA(&d, p.c_str())) {}
  PublicDoc(const fs::path& p, std::uint32_t options)
      : result(Kv_NITFCreateExA(&d, p.c_str(), options)) {}
  PublicDoc(PublicDoc&& other) noexcept
      : d(std::exchange(other.d, nullptr)), result(other.result) {}
  PublicDoc& operator=(PublicDoc&&) = delete;
  ~PublicDoc() {
    if (d) Kv_NITFDestroy(&d);
  }
};

// Pixel (x, y) of a bitmap, in display order; for 24 bits `channel` 0 is blue, 2 red.
inline std::uint32_t pixel_value(const kernel::Bitmap& b, int x, int y, int channel = 0) {
  const std::uint8_t* row = kernel::storage_row(b, kernel::top_down_row(b, y));
  switch (b.bits_per_pixel) {
    case 1:
      return row[x / 8] >> (7 - x % 8) & 1;
    case 12:
      return kernel::sample12(row, x);
    case 16: {
      std::uint16_t v;
      std::memcpy(&v, row + 2 * x, 2);
      return v;
    }
    case 24:
      return row[3 * x + channel];
    default:
      return row[x];
  }
}

// The data of graphic segment `index` of a file whose header `doc` holds, as stored.
inline std::vector<std::uint8_t> graphic_data(const NitfDocument& doc, const fs::path& path,
                                              std::uint32_t index) {
  const std::int64_t at = nitf::segment_data_offset(doc, nitf::SegmentKind::kGraphic, index);
  const std::uint64_t length = doc.header.graphics.data(index);
  std::vector<std::uint8_t> out(length);
  std::ifstream in(path, std::ios::binary);
  in.seekg(at);
  in.read(reinterpret_cast<char*>(out.data()), std::streamsize(length));
  EXPECT_EQ(std::uint64_t(in.gcount()), length) << path;
  return out;
}

struct SampleCgm {
  std::string file;
  std::uint32_t index;
  std::vector<std::uint8_t> data;
};

// Every CGM graphic of every sample. SFMT is byte 200 of a graphic subheader (SY to
// ENCRYP come before it); only file headers are read, so a sample whose images the
// parser refuses still counts.
inline std::vector<SampleCgm> sample_cgm_segments() {
  constexpr std::int64_t kSfmtOffset = 200;
  std::vector<SampleCgm> out;
  for (const fs::path& path : all_samples()) {
    Parsed parsed = read_header_only(path);
    if (parsed.result != RET_SUCCESS) continue;
    const NitfDocument& doc = *parsed.document;
    for (std::uint32_t i = 0; i < std::uint32_t(doc.header.graphics.count); ++i) {
      std::ifstream in(path, std::ios::binary);
      in.seekg(nitf::segment_offset(doc, nitf::SegmentKind::kGraphic, i) + kSfmtOffset);
      if (in.get() == 'C') out.push_back({path.filename().string(), i, graphic_data(doc, path, i)});
    }
  }
  return out;
}

// A copy of a member of a packed public record: gtest binds its arguments to
// references, which must not point at misaligned members.
template <class T>
T value(T member) {
  return member;
}

// Collects message boxes while alive.
class MessageCapture {
 public:
  MessageCapture() { kernel::set_message_sink(&MessageCapture::sink, this); }
  ~MessageCapture() { kernel::set_message_sink(nullptr, nullptr); }
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  static void sink(void* self, const char* text, const char* caption) {
    static_cast<MessageCapture*>(self)->messages_.push_back(std::string(caption) + ": " + text);
  }
  std::vector<std::string> messages_;
};

// Every test of a fixture made from this ends with the kernel's live objects where they
// were when it began.
template <class Base = ::testing::Test>
class LeakCheckedBase : public Base {
 protected:
  void SetUp() override { before_ = kernel::live_objects(); }
  void TearDown() override { EXPECT_EQ(kernel::live_objects(), before_) << "objects left alive"; }

 private:
  std::size_t before_ = 0;
};
using LeakChecked = LeakCheckedBase<>;

// The composed canvas of a document (Kv_NtfRenderBitmap), freed at the end of the scope.
struct Rendered {
  KvBitmap bitmap{};
  int result = 0;
  ~Rendered() { kernel::free_bitmap(canvas()); }
  kernel::Bitmap* canvas() { return reinterpret_cast<kernel::Bitmap*>(&bitmap); }
  // The colour at display pixel (x, y) of the 24-bit canvas, 0x00BBGGRR.
  std::uint32_t at(int x, int y) {
    const std::uint8_t* p =
        kernel::storage_row(*canvas(), kernel::top_down_row(*canvas(), y)) + 3 * x;
    return p[2] | p[1] << 8 | std::uint32_t{p[0]} << 16;
  }
};

// A bitmap filled with `fill` (0x00BBGGRR) and a drawing context on it, both released at
// the end of the scope; `result` is the bitmap's creation's.
struct Canvas {
  kernel::Bitmap bitmap;
  kernel::DrawingContext* dc = nullptr;
  int result;
  Canvas(std::int32_t width, std::int32_t height, int bpp = 24, int view = kernel::kViewTopDown,
         std::uint32_t fill = 0xFFFFFF)
      : result(kernel::create_bitmap(&bitmap, kernel::kBitmapRecordSize, 1, width, height, bpp,
                                     kernel::kColourRgb, nullptr, view, nullptr, 0)) {
    kernel::fill_bitmap(&bitmap, fill);
    dc = kernel::device_context_for_bitmap(&bitmap);
  }
  Canvas(const Canvas&) = delete;
  ~Canvas() {
    kernel::delete_device_context(dc);
    kernel::free_bitmap(&bitmap);
  }
};

// Kernel allocations above `bytes` fail while alive.
struct AllocationCap {
  explicit AllocationCap(std::size_t bytes) { kernel::set_allocation_cap(bytes); }
  ~AllocationCap() { kernel::set_allocation_cap(0); }
};

// A bitmap record freed at the end of its scope.
struct OwnedBitmap {
  kernel::Bitmap b;
  OwnedBitmap() = default;
  OwnedBitmap(const OwnedBitmap&) = delete;
  ~OwnedBitmap() { kernel::free_bitmap(&b); }
  kernel::Bitmap* get() { return &b; }
  kernel::Bitmap* operator->() { return &b; }
};

// What a shell command writes to its standard output.
inline std::string command_output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  ::pclose(pipe);
  return out;
}

inline bool have_tool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

#define REQUIRE_TOOL(name)                                                              \
  do {                                                                                  \
    if (!testing_support::have_tool(name)) GTEST_SKIP() << name << " is not installed"; \
  } while (0)

}  // namespace testing_support
