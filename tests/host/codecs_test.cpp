// The file-format library's decoders against the codecs' own tools: every JPEG and JPEG
// 2000 stream of the real samples and the JPEG variants producers write (made here with
// libjpeg-turbo) against djpeg and opj_decompress, large JPEG 2000 pictures decoded in
// pieces, T.4 against libtiff's encoder. Damaged streams (cut, overwritten, absurd sizes)
// must give a code, leave the caller's record as it was and leave nothing allocated.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "fileformat/fileformat.h"
#include "kernel/bitmap.h"
#include "kernel/memory.h"
#include "testing.h"

namespace {

namespace ff = fileformat;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using testing_support::AllocationCap;
using testing_support::OwnedBitmap;
using testing_support::TempDir;
using HostCodec = testing_support::LeakChecked;

constexpr std::uint32_t kRecord = kernel::kBitmapRecordSize;

Bytes slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

fs::path spill(const TempDir& dir, const std::string& name, const Bytes& b) {
  return dir.write(name, std::string(b.begin(), b.end()));
}

// The data of every image segment of a file, found as the module finds them: HL and the
// length tables.
std::vector<Bytes> image_data(const fs::path& path) {
  auto parsed = testing_support::read_header_only(path);
  std::vector<Bytes> out;
  const Bytes file = slurp(path);
  for (std::uint32_t i = 0; parsed.result == RET_SUCCESS && i < parsed.document->image_count; ++i) {
    const auto at = nitf::segment_data_offset(*parsed.document, nitf::SegmentKind::kImage, i);
    const std::uint64_t length = parsed.document->header.images.data(i);
    if (at < 0 || std::uint64_t(at) + length > file.size()) break;
    out.emplace_back(file.begin() + at, file.begin() + at + std::int64_t(length));
  }
  return out;
}

Bytes sample_data(const char* name) {
  const auto all = image_data(testing_support::sample(name));
  return all.empty() ? Bytes{} : all[0];
}

bool is_j2k(const Bytes& s) {  // a codestream's SOC, or a JP2 signature box
  return s.size() > 4 && ((s[0] == 0xFF && s[1] == 0x4F) || (s[0] == 0 && s[3] == 0x0C));
}

bool is_jpeg(const Bytes& s) {  // SOI, after any fill bytes
  std::size_t at = 0;
  while (at + 1 < s.size() && s[at + 1] == 0xFF) ++at;
  return at + 1 < s.size() && s[at] == 0xFF && s[at + 1] == 0xD8;
}

struct Stream {
  std::string name;
  Bytes data;
};

// Every JPEG and JPEG 2000 image segment of the samples. In the files of the second
// folder the header reader refuses (other versions and complexity levels) JPEG streams
// are found by their SOI marker.
std::vector<Stream> sample_streams() {
  std::vector<Stream> out;
  auto files = testing_support::all_samples();
  for (const fs::path& f : testing_support::all_samples(testing_support::more_samples_dir())) {
    if (!image_data(f).empty()) {
      files.push_back(f);
      continue;
    }
    const Bytes file = slurp(f);
    for (std::size_t i = 0; i + 3 < file.size(); ++i)
      if (file[i] == 0xFF && file[i + 1] == 0xD8 && file[i + 2] == 0xFF)
        out.push_back({f.filename().string() + "@" + std::to_string(i),
                       Bytes(file.begin() + long(i), file.end())});
  }
  for (const fs::path& f : files) {
    std::vector<Bytes> images = image_data(f);
    for (std::size_t i = 0; i < images.size(); ++i)
      if (is_jpeg(images[i]) || is_j2k(images[i]))
        out.push_back({f.filename().string() + "#" + std::to_string(i), std::move(images[i])});
  }
  return out;
}

using testing_support::Pnm;

// Where djpeg has no decoder (12-bit and lossless JPEG): GDAL, whose JPEG driver has a
// 12-bit libjpeg of its own, else GDCM's tools (through a DICOM file); both write the
// stream's own values.
std::optional<Pnm> deep_oracle(const fs::path& in, const TempDir& dir) {
  const std::string dicom = dir.file("d.dcm").string(), plain = dir.file("p.dcm").string();
  for (const std::string& command :
       {"gdal_translate -q -of PNM " + in.string() + " {out}",
        "gdcmimg " + in.string() + " " + dicom + " && gdcmconv --raw " + dicom + " " + plain +
            " && gdcmimg " + plain + " {out}"})
    if (auto p = testing_support::written(command)) return p->raw = true, p;
  return std::nullopt;
}

// The picture the stream's own tool makes of it: djpeg's or opj_decompress's, else
// deep_oracle's. None when no tool makes a whole picture.
std::optional<Pnm> oracle(const Bytes& s) {
  const std::string stream(s.begin(), s.end());
  auto p = testing_support::codec_picture(stream);
  if (p || is_j2k(s)) return p;
  TempDir dir;
  return deep_oracle(dir.write("s.jpg", testing_support::from_soi(stream)), dir);
}

// An oracle sample of `maxval` scaled to `bits`, rounding to nearest; 8-bit grey keeps
// its value (palette indices and grey levels of at most 8 bits are not rescaled).
std::uint32_t expected_sample(std::uint32_t s, std::uint32_t maxval, int bits) {
  const std::uint64_t top = (std::uint64_t{1} << bits) - 1;
  if (maxval == top || (bits == 8 && maxval < 255)) return s;
  return std::uint32_t((std::uint64_t{s} * top + maxval / 2) / maxval);
}

// The largest difference between the bitmap and the oracle (a size mismatch is a
// failure). A 24-bit bitmap's red, green and blue are the oracle's channel[0], [1], [2].
int max_difference(const kernel::Bitmap& b, const Pnm& p,
                   std::array<std::uint32_t, 3> channel = {0, 1, 2}) {
  if (b.width != p.width || b.height != p.height) return ADD_FAILURE() << "size differs", 1 << 20;
  int worst = 0;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x)
      for (int c = 0; c < (b.bits_per_pixel == 24 ? 3 : 1); ++c) {
        const bool colour = b.bits_per_pixel == 24;
        const int got = int(testing_support::pixel_value(b, x, y, colour ? 2 - c : 0));
        const std::uint32_t s =
            p.at(x, y, int(std::min(channel[c], std::uint32_t(p.channels - 1))));
        const int want =
            int(p.raw && !colour ? s : expected_sample(s, p.maxval, colour ? 8 : b.bits_per_pixel));
        worst = std::max(worst, std::abs(got - want));
      }
  return worst;
}

std::int32_t load(const Bytes& s, kernel::Bitmap* b, const FltLoadOptions* o = nullptr,
                  std::int32_t bits = 0, std::int32_t order = ff::kColourAsDecoded) {
  return ff::load_from_memory(s.data(), b, kRecord, bits, order, std::uint32_t(s.size()), o);
}

FltLoadOptions options(std::uint32_t flags, std::array<std::uint32_t, 3> bands = {0, 1, 2}) {
  FltLoadOptions o;
  EXPECT_EQ(ff::default_load_options(&o, ff::kLoadOptionsSize), RET_SUCCESS);
  o.flags |= flags;
  o.red_band = bands[0], o.green_band = bands[1], o.blue_band = bands[2];
  return o;
}

FltFileInfo info_of(const Bytes& s, std::int32_t* result = nullptr) {
  FltFileInfo info;
  std::memset(&info, 0xAB, sizeof info);  // what the call does not write shows
  const auto r =
      ff::file_info_from_memory(s.data(), &info, ff::kFileInfoSize, std::uint32_t(s.size()));
  if (result) *result = r;
  return info;
}

// A 2 x 2 8-bit bitmap that a failed load must leave exactly as it was.
void make_sentinel(OwnedBitmap& b) {
  ASSERT_EQ(kernel::create_bitmap(b.get(), kRecord, 1, 2, 2, 8, kernel::kColourGrey, nullptr,
                                  kernel::kViewTopDown, nullptr, 0),
            RET_SUCCESS);
  std::memset(b->data, 0x5A, b->data_size);
}

void expect_sentinel(kernel::Bitmap& b, const std::string& where) {
  ASSERT_TRUE(b.width == 2 && b.bits_per_pixel == 8 && b.data) << where;
  EXPECT_EQ(b.data[0], 0x5A) << where;
}

// ---------------------------------------------------------------------------------------
// JPEG streams made here: libjpeg-turbo's encoder with the variants producers write.

// Smooth ramps with a sharp diagonal edge and fine texture, so that colour mix-ups,
// wrong component order and misplaced blocks all show.
Bytes pattern(int width, int height, int components) {
  Bytes px;
  for (int i = 0; i < width * height * components; ++i) {
    const int x = i / components % width, y = i / components / width, c = i % components;
    int v = c == 0   ? x * 255 / std::max(1, width - 1)
            : c == 1 ? y * 255 / std::max(1, height - 1)
                     : (x + 2 * y) % 64 * 4;
    if (c == 3) v = 255 - v / 2;
    px.push_back(std::uint8_t(x > y ? (v + 96 * (c + 1)) & 0xFF : v));
  }
  return px;
}

using Tweak = std::function<void(jpeg_compress_struct&)>;

// libjpeg-turbo's stream of the pattern (45 x 37: partial blocks at both edges) with
// what `tweak` changes of libjpeg's defaults for the components.
Bytes encode(int components, const Tweak& tweak = {}, int width = 45, int height = 37,
             Bytes pixels = {}) {
  if (pixels.empty()) pixels = pattern(width, height, components);
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(width);
  c.image_height = JDIMENSION(height);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 85, TRUE);
  if (tweak) tweak(c);
  jpeg_start_compress(&c, TRUE);
  for (JSAMPROW row = pixels.data(); c.next_scanline < c.image_height; row += width * components)
    jpeg_write_scanlines(&c, &row, 1);
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes stream(out, out + size);
  std::free(out);
  return stream;
}

void progressive(jpeg_compress_struct& c) {
  jpeg_simple_progression(&c);
}
// R, G, B as they are, with the Adobe marker (transform 0) libjpeg writes for them.
void rgb(jpeg_compress_struct& c) {
  jpeg_set_colorspace(&c, JCS_RGB);
}
// The same with nothing that says RGB, as NITF producers write them: identifiers 1, 2, 3
// and no marker (libjpeg alone takes them for YCbCr).
void unmarked_rgb(jpeg_compress_struct& c) {
  jpeg_set_colorspace(&c, JCS_RGB);
  c.write_Adobe_marker = FALSE;
  for (int i = 0; i < 3; ++i) c.comp_info[i].component_id = i + 1;
}

// A generated stream with its frame marker and precision rewritten.
Bytes with_frame(std::uint8_t marker, std::uint8_t precision, Bytes s = encode(1)) {
  for (std::size_t i = 2; i + 4 < s.size(); ++i)
    if (s[i] == 0xFF && s[i + 1] == 0xC0) {
      s[i + 1] = marker, s[i + 4] = precision;
      break;
    }
  return s;
}

// ---------------------------------------------------------------------------------------
// Real streams and generated variants against their tools.

// Where djpeg, GDAL, GDCM's tools or opj_decompress decode a sample stream the loader
// must give the same picture and describe it (12-bit and lossless JPEG keep their grey
// values); where they refuse (what only looked like a stream) so must the loader. A
// colour JPEG 2000 stream's components are picked by band selection too.
TEST_F(HostCodec, SampleStreamsMatchTheirTools) {
  REQUIRE_SAMPLES();
  const auto streams = sample_streams();
  ASSERT_GE(streams.size(), 20u);
  int deep = 0;
  for (const Stream& s : streams) {
    SCOPED_TRACE(s.name);
    const auto truth = oracle(s.data);
    OwnedBitmap b;
    std::int32_t result = 0;
    const FltFileInfo info = info_of(s.data, &result);
    if (!truth) {
      EXPECT_NE(load(s.data, b.get()), RET_SUCCESS);
      EXPECT_NE(result, RET_SUCCESS) << info.format;
      continue;
    }
    deep += truth->raw;
    ASSERT_EQ(load(s.data, b.get()), RET_SUCCESS);
    EXPECT_LE(max_difference(*b.get(), *truth), 1);
    EXPECT_EQ(result, RET_SUCCESS);
    EXPECT_EQ(info.format == ff::kFormatJpeg2000, is_j2k(s.data));
    EXPECT_TRUE(info.width == std::uint32_t(b->width) && info.height == std::uint32_t(b->height));
    EXPECT_EQ(info.bits_per_pixel, std::uint32_t(b->bits_per_pixel));
    if (!is_j2k(s.data) || truth->channels != 3) continue;
    const FltLoadOptions bands = options(KV_LOAD_BANDS, {2, 0, 0}),
                         bad = options(KV_LOAD_BANDS, {0, 1, 3});
    ASSERT_EQ(load(s.data, b.get(), &bands), RET_SUCCESS);
    EXPECT_LE(max_difference(*b.get(), *truth, {2, 0, 0}), 1);
    EXPECT_EQ(load(s.data, b.get(), &bad), RET_INVALID_PARAMETER);
  }
  EXPECT_GE(deep, 3) << "ns3417c, ns3437a and U_4017A";
}

struct Variant {
  std::string name;
  Bytes stream, truth;       // truth: the stream djpeg decodes to the expected picture
  std::uint32_t format = 0;  // the file-information kind, when checked
  std::uint32_t flags = 0;
  std::array<std::uint32_t, 3> bands{0, 1, 2};
};

std::vector<Variant> variants() {
  std::vector<Variant> v;
  auto add = [&](std::string name, Bytes s, std::uint32_t format, Bytes truth = {},
                 std::uint32_t flags = 0, std::array<std::uint32_t, 3> bands = {0, 1, 2}) {
    if (truth.empty()) truth = s;
    v.push_back({std::move(name), std::move(s), std::move(truth), format, flags, bands});
  };
  const Bytes plain = encode(3), grey = encode(1), marked = encode(3, rgb);
  const Bytes unmarked = encode(3, unmarked_rgb);
  add("Grey", grey, 5);
  add("Colour", plain, 10);
  add("RgbAdobe", marked, 24);
  add("GreyProgressive", encode(1, progressive), 11);
  add("Progressive", encode(3, progressive), 11);
  add("GreyRestarts", encode(1, [](auto& c) { c.restart_interval = 1; }), 26);
  add("Restarts", encode(3, [](auto& c) { c.restart_interval = 3; }), 26);
  add("ProgressiveRestarts", encode(3, [](auto& c) { progressive(c), c.restart_interval = 2; }),
      11);
  add("OnePixel", encode(3, {}, 1, 1), 10);
  add("OneRow", encode(1, {}, 300, 1), 5);
  add("Extended8Bit", with_frame(0xC1, 8), 0);
  // The RGB flag reads unmarked components as R, G, B and changes nothing where the
  // stream states its colours (JFIF, an Adobe transform, grey).
  add("Unmarked", unmarked, 10);
  add("UnmarkedAsRgb", unmarked, 10, marked, KV_LOAD_RGB);
  add("JfifAsRgb", plain, 0, {}, KV_LOAD_RGB);
  add("AdobeYccAsRgb",
      encode(3, [](auto& c) { c.write_JFIF_header = FALSE, c.write_Adobe_marker = TRUE; }), 0, {},
      KV_LOAD_RGB);
  add("GreyAsRgb", grey, 0, {}, KV_LOAD_RGB);
  // Band selection takes stored components in any order, a grey one repeated.
  add("Bands201", marked, 0, {}, KV_LOAD_BANDS | KV_LOAD_RGB, {2, 0, 1});
  add("GreyBands", grey, 0, {}, KV_LOAD_BANDS, {0, 0, 0});
  // Four components (CMYK as Adobe writes it) give the first three: the oracle is an RGB
  // stream of those three, coded with the same tables.
  const Bytes px4 = pattern(45, 37, 4);
  Bytes px3;
  for (std::size_t i = 0; i < px4.size(); i += 4) px3.insert(px3.end(), &px4[i], &px4[i] + 3);
  add("FourComponents", encode(4, {}, 45, 37, px4), ff::kFormatJpegMulti,
      encode(3, rgb, 45, 37, px3));
  // Before the SOI marker: fill bytes (i_3025b has six), and the 27-byte NITF APP6 prefix
  // the blocked reader puts before a re-read block.
  Bytes filled(5, 0xFF),
      prefixed = {0xFF, 0xD8, 0xFF, 0xE6, 0, 0x19, 'N', 'I', 'T', 'F', 0, 2, 0, 0x42,
                  0,    2,    0,    2,    3, 8,    0,   1,   0,   3,   8, 1, 1};
  filled.insert(filled.end(), plain.begin(), plain.end());
  prefixed.insert(prefixed.end(), plain.begin(), plain.end());
  add("FillBytes", filled, 10, plain);
  add("NitfPrefix", prefixed, 10, plain);
  return v;
}

TEST_F(HostCodec, JpegVariantsMatchDjpeg) {
  REQUIRE_TOOL("djpeg");
  for (const Variant& v : variants()) {
    SCOPED_TRACE(v.name);
    const auto truth = oracle(v.truth);
    ASSERT_TRUE(truth);
    const FltLoadOptions o = options(v.flags, v.bands);
    OwnedBitmap b;
    ASSERT_EQ(load(v.stream, b.get(), &o), RET_SUCCESS);
    const bool colour = (v.flags & KV_LOAD_BANDS) || truth->channels == 3;
    EXPECT_EQ(b->bits_per_pixel, colour ? 24 : 8);
    EXPECT_EQ(b->colour_order, colour ? kernel::kColourRgb : kernel::kColourGrey);
    EXPECT_EQ(b->view_code, kernel::kViewTopDown);
    EXPECT_LE(max_difference(*b.get(), *truth, v.bands), 1);
    if (!v.format) continue;
    std::int32_t result = 0;
    const FltFileInfo info = info_of(v.stream, &result);
    ASSERT_EQ(result, RET_SUCCESS);
    EXPECT_EQ(info.format, v.format);
    EXPECT_TRUE(info.width == std::uint32_t(b->width) && info.height == std::uint32_t(b->height));
    EXPECT_EQ(info.bits_per_pixel, std::uint32_t(b->bits_per_pixel));
    EXPECT_TRUE(info.image_size_low == b->data_size && info.image_size_high == 0);
  }
}

// ---------------------------------------------------------------------------------------
// Streams djpeg cannot read: 12-bit DCT streams GDAL writes (its JPEG driver has a 12-bit
// libjpeg of its own) against GDAL's reading, lossless streams of the PVRG codec against
// their source (PVRG's predictors 1 and 4 only: with the others, and with restart
// intervals, it breaks the standard's rules for a first row and column, which ns3437a
// follows). Grey keeps its values in the 8-, 12- or 16-bit layout, colour is scaled to 8
// bits. The real 12-bit grey streams are in SampleStreamsMatchTheirTools.

// The stream `encoder` writes of the picture: "gdal" and gdal_translate's options, or
// PVRG's.
Bytes deep_stream(const Pnm& p, int precision, const std::string& encoder, const TempDir& dir) {
  auto bytes = [&](std::uint32_t v, Bytes& out) {
    if (p.maxval > 255) out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
  };
  const std::string out = dir.file("deep.jpg").string();
  std::string command;
  if (encoder.rfind("gdal", 0) == 0) {
    const std::string head = (p.channels == 3 ? "P6\n" : "P5\n") + std::to_string(p.width) + " " +
                             std::to_string(p.height) + "\n" + std::to_string(p.maxval) + "\n";
    Bytes pnm(head.begin(), head.end());
    for (std::uint32_t v : p.samples) bytes(v, pnm);
    command = "gdal_translate -q -of JPEG " + encoder.substr(4) + " " +
              spill(dir, "in.pnm", pnm).string() + " " + out;
  } else {
    command = "pvrg-jpeg -iw " + std::to_string(p.width) + " -ih " + std::to_string(p.height) +
              " -p " + std::to_string(precision) + " " + encoder + " -s " + out;
    for (int c = 0; c < p.channels; ++c) {
      Bytes plane;
      for (std::size_t i = std::size_t(c); i < p.samples.size(); i += std::size_t(p.channels))
        bytes(p.samples[i], plane);
      command += " " + spill(dir, "c" + std::to_string(c), plane).string();
    }
  }
  if (std::system((command + " >/dev/null 2>&1").c_str()) == -1) return {};
  return slurp(out);
}

TEST_F(HostCodec, DeepJpegMatchesTheirTools) {
  REQUIRE_TOOL("gdal_translate");
  REQUIRE_TOOL("pvrg-jpeg");
  const struct {
    const char* what;
    int channels, precision;
    std::string encoder;
    int bits;
  } cases[] = {
      {"12-bit colour", 3, 12, "gdal", 24},
      {"12-bit progressive", 3, 12, "gdal -co PROGRESSIVE=ON", 24},
      {"lossless 16-bit", 1, 16, "-k 1", 16},
      {"lossless 13-bit", 1, 13, "-k 4", 16},
      {"lossless 8-bit", 1, 8, "-k 1", 8},
      {"lossless 4-bit", 1, 4, "-k 4", 8},
      {"lossless colour", 3, 10, "-k 4", 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    Pnm source{45, 37, c.channels, (1u << c.precision) - 1, false, {}};
    for (int i = 0; i < 45 * 37 * c.channels; ++i) {
      const int x = i / c.channels % 45, y = i / c.channels / 45, k = i % c.channels;
      const int v = x * (37 + 11 * k) + y * (23 + 5 * k) + (x * y + 7 * k) % 29 * 9;
      source.samples.push_back(std::uint32_t(v) % (source.maxval + 1));
    }
    const Bytes stream = deep_stream(source, c.precision, c.encoder, dir);
    const bool gdal = c.encoder.rfind("gdal", 0) == 0;
    auto truth = gdal ? deep_oracle(spill(dir, "s.jpg", stream), dir) : source;
    ASSERT_TRUE(truth);
    truth->raw = c.channels == 1;
    truth->maxval = source.maxval;
    OwnedBitmap b;
    ASSERT_EQ(load(stream, b.get()), RET_SUCCESS);
    ASSERT_EQ(b->bits_per_pixel, c.bits);
    EXPECT_LE(max_difference(*b.get(), *truth), gdal ? 1 : 0);
    const FltFileInfo info = info_of(stream);
    EXPECT_EQ(info.format, std::uint32_t(gdal ? ff::kFormatJpeg12Bit : ff::kFormatJpegLossless));
    EXPECT_EQ(info.bits_per_pixel, std::uint32_t(c.bits));
  }
}

// opj_compress's stream `name` (options `how`) of `channels` raw planes w x h of `bits`
// (a ramp with texture), the second and third sampled 1 in dx across and dy down.
Bytes opj_stream(const TempDir& dir, const char* name, int w, int h, int channels, int bits,
                 const std::string& how = "", int dx = 1, int dy = 1) {
  Bytes raw;
  for (int c = 0; c < channels; ++c)
    for (int y = 0; y < (c ? h / dy : h); ++y)
      for (int x = 0; x < (c ? w / dx : w); ++x) {
        const int v = (x * (3 + 6 * c) + y * (2 + c) + (x * y + c * 7) % 29 * 9) % (1 << bits);
        if (bits > 8) raw.push_back(std::uint8_t(v >> 8));
        raw.push_back(std::uint8_t(v));
      }
  std::string format = " -F " + std::to_string(w) + "," + std::to_string(h) + "," +
                       std::to_string(channels) + "," + std::to_string(bits) + ",u@1x1";
  for (int c = 1; c < channels; ++c) format += ":" + std::to_string(dx) + "x" + std::to_string(dy);
  const std::string command = "opj_compress " + how + format + " -i " +
                              spill(dir, "in.raw", raw).string() + " -o " +
                              dir.file(name).string() + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return slurp(dir.file(name));
}

// Pictures of more than 16 MiB of OpenJPEG samples are decoded in pieces: a codestream of
// one tile in strips of rows (their edges inside code blocks at every level), one of
// several tiles tile by tile. The pixels must be opj_decompress's exactly, a cut stream
// is refused, and decoding into a view of a larger picture (KV_LOAD_INTO) writes the same
// pixels there and nothing around them; a view of another size is refused untouched.
// Grey deeper than 8 bits becomes 16-bit grey over the full range.
TEST_F(HostCodec, LargeJpeg2000InPieces) {
  REQUIRE_TOOL("opj_compress");
  REQUIRE_TOOL("opj_decompress");
  TempDir dir;
  for (const auto& [how, channels, w, h, bits] : {std::tuple{"-I -r 8", 3, 1200, 1208, 8},
                                                  {"-b 32,128 -r 4", 3, 1200, 1208, 8},
                                                  {"-t 512,384 -r 6", 3, 1200, 1208, 8},
                                                  {"-r 5", 1, 2100, 2048, 12}}) {
    SCOPED_TRACE(how);
    const Bytes stream = opj_stream(dir, "out.j2k", w, h, channels, bits, how);
    const auto truth = oracle(stream);
    ASSERT_TRUE(truth);
    OwnedBitmap b, refused;
    ASSERT_EQ(load(stream, b.get()), RET_SUCCESS);
    EXPECT_EQ(max_difference(*b.get(), *truth), 0);
    EXPECT_EQ(
        load(Bytes(stream.begin(), stream.begin() + long(stream.size() * 3 / 5)), refused.get()),
        RET_FILE_FORMAT);
    EXPECT_EQ(refused->data, nullptr);
    if (truth->channels == 1) {
      EXPECT_TRUE(b->bits_per_pixel == 16 && b->colour_order == kernel::kColourGrey);
      EXPECT_EQ(info_of(stream).bits_per_pixel, 16u);
      EXPECT_EQ(load(stream, refused.get(), nullptr, 8), RET_NOT_SUPPORTED)
          << "no depth conversion";
      EXPECT_EQ(load(stream, refused.get(), nullptr, 16), RET_SUCCESS);
      continue;
    }
    OwnedBitmap big, want;  // the same 24-bit picture twice: a place is decoded into one
    for (OwnedBitmap* p : {&big, &want}) {
      ASSERT_EQ(
          kernel::create_bitmap(p->get(), kRecord, 1, b->width + 7, b->height + 3, 24,
                                kernel::kColourRgb, nullptr, kernel::kViewBottomUp, nullptr, 0),
          RET_SUCCESS);
      kernel::fill_bitmap(p->get(), 0x123456);
    }
    const FltLoadOptions into = options(KV_LOAD_INTO);
    kernel::Bitmap place, narrow, spot;
    ASSERT_EQ(kernel::make_view(*big.get(), 4, 2, b->width, b->height, &place), RET_SUCCESS);
    ASSERT_EQ(kernel::make_view(*big.get(), 4, 2, b->width, b->height - 1, &narrow), RET_SUCCESS);
    ASSERT_EQ(kernel::make_view(*want.get(), 4, 2, b->width, b->height, &spot), RET_SUCCESS);
    EXPECT_EQ(load(stream, &narrow, &into), RET_NOT_SUPPORTED);
    EXPECT_EQ(std::memcmp(big->data, want->data, big->data_size), 0);
    for (int y = 0; y < b->height; ++y)
      std::memcpy(kernel::pixel_row(spot, kernel::top_down_row(spot, y)),
                  kernel::storage_row(*b.get(), y), 3 * std::size_t(b->width));
    ASSERT_EQ(load(stream, &place, &into), RET_SUCCESS);
    EXPECT_EQ(std::memcmp(big->data, want->data, big->data_size), 0);
  }
}

// JPEG 2000 colour as OpenJPEG's tools show it, exactly: JP2 files whose colour box says
// sYCC (their components in any order by a cdef box) and codestreams of Y, Cb, Cr known
// by subsampled chroma in RGB; 12-bit colour by the top 8 bits of its 16-bit scaling, as
// 12-bit grey is shown; a JP2 whose image header disagrees with its codestream's size
// (which OpenJPEG refuses) by its codestream alone.
TEST_F(HostCodec, Jpeg2000AsTheirTools) {
  REQUIRE_TOOL("opj_compress");
  REQUIRE_TOOL("opj_decompress");
  TempDir dir;
  // The JP2 with its ihdr height, colr space and a cdef box (Y, Cb, Cr in 2, 1, 0) as asked.
  auto boxed = [](Bytes s, std::uint8_t height, std::uint8_t space, bool reversed) {
    auto box = [&](const char* type) { return std::search(s.begin(), s.end(), type, type + 4); };
    if (height) box("ihdr")[7] = height;
    if (space) box("colr")[10] = space;
    if (reversed) {
      const auto header = box("jp2h"), end = header - 4 + header[-1];
      header[-1] = std::uint8_t(header[-1] + 28);
      s.insert(end, {0, 0, 0, 28, 'c', 'd', 'e', 'f', 0, 3, 0, 0, 0, 0,
                     0, 3, 0, 1,  0,   0,   0,   2,   0, 2, 0, 0, 0, 1});
    }
    return s;
  };
  const Bytes rgb = opj_stream(dir, "rgb.jp2", 61, 47, 3, 8),
              wide = opj_stream(dir, "wide.jp2", 64, 40, 3, 8);
  const std::uint8_t soc[] = {0xFF, 0x4F, 0xFF, 0x51};  // the codestream box's contents
  const struct {
    const char* what;
    Bytes stream, truth;  // truth: the stream opj_decompress decodes to the expected picture
  } cases[] = {
      {"sYCC", boxed(rgb, 0, 18, false), {}},
      {"sYCC reordered", boxed(rgb, 0, 18, true), {}},
      {"4:2:0", opj_stream(dir, "s420.j2k", 62, 46, 3, 8, "", 2, 2), {}},
      {"4:2:2", opj_stream(dir, "s422.j2k", 62, 46, 3, 8, "", 2, 1), {}},
      {"12-bit colour", opj_stream(dir, "deep.j2k", 61, 47, 3, 12), {}},
      {"ihdr disagrees", boxed(wide, 32, 0, false),
       Bytes(std::search(wide.begin(), wide.end(), soc, soc + 4), wide.end())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto truth = oracle(c.truth.empty() ? c.stream : c.truth);
    ASSERT_TRUE(truth && truth->channels == 3);
    OwnedBitmap b;
    ASSERT_EQ(load(c.stream, b.get()), RET_SUCCESS);
    ASSERT_TRUE(b->width == truth->width && b->height == truth->height && b->bits_per_pixel == 24);
    int wrong = 0;
    for (int i = 0; i < b->width * b->height * 3; ++i) {
      const std::uint32_t v = truth->at(i / 3 % b->width, i / 3 / b->width, i % 3),
                          top = truth->maxval;
      const std::uint32_t want =
          top == 255 ? v : std::uint32_t((v * 65535ull + top / 2) / top) >> 8;
      wrong += testing_support::pixel_value(*b.get(), i / 3 % b->width, i / 3 / b->width,
                                            2 - i % 3) != want;
    }
    EXPECT_EQ(wrong, 0);
  }
}

// ---------------------------------------------------------------------------------------
// T.4, which has no signature: the raw-data callback describes it.

struct RawDescription {
  FltRawFormat format{};
  std::int32_t result = RET_SUCCESS;
};

std::int32_t KV_CALL describe(void* user, FltRawFormat* format) {
  *format = static_cast<RawDescription*>(user)->format;
  return static_cast<RawDescription*>(user)->result;
}

// Installs the description (none for null) while alive, then puts back what was there.
class RawCallbackScope {
 public:
  explicit RawCallbackScope(RawDescription* d)
      : previous_(ff::set_raw_data_callback(d ? describe : nullptr, d)) {}
  ~RawCallbackScope() { ff::set_raw_data_callback(previous_, nullptr); }

 private:
  FltRawDataCallback previous_;
};

RawDescription t4(std::int32_t format, std::int32_t width, std::int32_t height) {
  return {FltRawFormat{format, width, height, 1, 0, 0, 1}};
}

// A raw T.4 stream of `picture` (1 = black) written by libtiff's Group 3 encoder.
Bytes encode_t4(const std::vector<std::uint8_t>& picture, int w, int h, bool two_d) {
  TempDir dir;
  const std::string path = dir.file("fax.tif").string();
  TIFF* out = TIFFOpen(path.c_str(), "w");
  if (!out) return {};
  TIFFSetField(out, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(out, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, h);
  TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, two_d ? GROUP3OPT_2DENCODING : 0);
  std::vector<std::uint8_t> row(std::size_t(w + 7) / 8);
  for (int y = 0; y < h; ++y) {
    std::fill(row.begin(), row.end(), 0);
    for (int x = 0; x < w; ++x)
      if (picture[std::size_t(y) * w + x]) row[x / 8] |= std::uint8_t(0x80 >> x % 8);
    TIFFWriteScanline(out, row.data(), std::uint32_t(y), 0);
  }
  TIFFClose(out);
  TIFF* in = TIFFOpen(path.c_str(), "r");
  if (!in) return {};
  Bytes raw(std::size_t(TIFFRawStripSize(in, 0)));
  raw.resize(std::size_t(
      std::max<tmsize_t>(0, TIFFReadRawStrip(in, 0, raw.data(), tmsize_t(raw.size())))));
  TIFFClose(in);
  return raw;
}

// Pixels whose bit is not the inverse of the picture's (a set bit is white), and set
// bits in the padding past the width.
int wrong_bits(const kernel::Bitmap& b, const std::vector<std::uint8_t>& picture) {
  int wrong = 0;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.bytes_per_line * 8; ++x) {
      const int bit = (kernel::storage_row(b, y)[x / 8] >> (7 - x % 8)) & 1;
      wrong += x < b.width ? bit != !picture[std::size_t(y) * b.width + x] : bit;
    }
  return wrong;
}

// Streams libtiff wrote, one- and two-dimensional, come back bit for bit.
TEST_F(HostCodec, T4MatchesLibtiff) {
  const int w = 203, h = 61;  // a width that is not a multiple of 8
  std::vector<std::uint8_t> picture;
  for (int i = 0; i < w * h; ++i) {
    const int x = i % w, y = i / w;
    picture.push_back(
        std::uint8_t(((x / 7 + y / 5) % 3 == 0) || (x == y) || (x * x + y * y) % 31 < 4));
  }
  for (bool two_d : {false, true}) {
    SCOPED_TRACE(two_d ? "2D" : "1D");
    const Bytes stream = encode_t4(picture, w, h, two_d);
    ASSERT_FALSE(stream.empty());
    RawDescription d = t4(two_d ? 67 : 66, w, h);
    RawCallbackScope scope(&d);
    OwnedBitmap b;
    ASSERT_EQ(load(stream, b.get(), nullptr, 1, kernel::kColourRgb), RET_SUCCESS);
    ASSERT_TRUE(b->width == w && b->height == h && b->bits_per_pixel == 1 && b->palette_count == 2);
    EXPECT_EQ(b->palette[0], kernel::palette_entry(0, 0, 0));
    EXPECT_EQ(b->palette[1], kernel::palette_entry(255, 255, 255));
    EXPECT_EQ(wrong_bits(*b.get(), picture), 0);
    std::int32_t result = 0;
    const FltFileInfo info = info_of(stream, &result);
    EXPECT_TRUE(result == RET_SUCCESS && info.format == std::uint32_t(d.format.format) &&
                info.bits_per_pixel == 1);
    EXPECT_EQ(info.image_size_low, b->data_size);
  }
}

// ---------------------------------------------------------------------------------------
// Hostile streams and arguments.

// The first `rows` rows of a lossless stream that restarts on every row (ns3437a's): the
// frame's height made `rows`, the data cut at the restart marker that ends them.
Bytes first_rows(Bytes s, int rows) {
  const std::uint8_t sof3[] = {0xFF, 0xC3}, sos[] = {0xFF, 0xDA};
  const auto frame = std::search(s.begin(), s.end(), sof3, sof3 + 2) - s.begin();
  const auto scan = std::search(s.begin(), s.end(), sos, sos + 2) - s.begin();
  if (std::size_t(scan) >= s.size()) return {};
  s[std::size_t(frame) + 5] = std::uint8_t(rows >> 8),
                         s[std::size_t(frame) + 6] = std::uint8_t(rows);
  for (std::size_t i = std::size_t(scan) + 2; i + 1 < s.size(); ++i)
    if (s[i] == 0xFF && (s[i + 1] & 0xF8) == 0xD0 && --rows == 0) {
      s.resize(i);
      s.insert(s.end(), {0xFF, 0xD9});
      break;
    }
  return s;
}

// Damaged streams: cut in the header, beside every marker and in steps through the data
// they are refused; with any header byte (frame, tables, boxes, SIZ) set to 0 or 0xFF
// (the large JP2's alternately, each decode being slow) they give a code or a picture,
// quickly and within an allocation cap, and random bytes anywhere the same. A refusal
// leaves the caller's record as it was.
TEST_F(HostCodec, DamagedStreams) {
  REQUIRE_SAMPLES();
  const Bytes fax = sample_data("jitc/i_3041a.ntf");
  const Bytes twelve = sample_data("../more-samples/depth/ns3417c.nsf"),
              lossless = first_rows(sample_data("../more-samples/depth/ns3437a.nsf"), 6);
  auto without_eoc = [](const char* name) {  // which OpenJPEG may do without
    const Bytes s = sample_data(name);
    return Bytes(s.begin(), s.end() - 2);
  };
  const struct {
    const char* what;
    Bytes stream;
    std::size_t cut_step, header;
    bool fax = false;
  } cases[] = {
      {"grey", encode(1), 1, 400},
      {"progressive", encode(3, progressive), 1, 700},
      {"restarts", encode(3, [](auto& c) { c.restart_interval = 2; }), 1, 700},
      {"codestream", without_eoc("j2k/p0_12a.ntf"), 1, 60},
      {"mono", without_eoc("j2k/001_006_64x64_s_8_1_mono_j2c.ntf"), 1, 60},
      {"tiles", without_eoc("j2k/p1_06b.ntf"), 7, 60},
      {"JP2", without_eoc("j2k/066_389x298_s_11_3_rgb_jp2.ntf"), 4001, 140},
      {"T.4", fax, fax.size() / 97 + 1, 0, true},
      {"12-bit", twelve, 7, 470},
      {"lossless", lossless, 7, 90},
  };
  RawDescription description = t4(67, 512, 512);
  std::uint32_t seed = 12345;
  auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 16; };
  const auto start = std::chrono::steady_clock::now();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(c.stream.empty());
    RawCallbackScope scope(c.fax ? &description : nullptr);
    AllocationCap cap(64u << 20);
    OwnedBitmap b;
    make_sentinel(b);
    const Bytes& w = c.stream;
    auto marker = [&](std::size_t i) {  // not a stuffed 0xFF 00, nor fill
      return c.cut_step < 8 && i + 1 < w.size() && w[i] == 0xFF && w[i + 1] % 0xFF;
    };
    for (std::size_t cut = 1; cut < w.size(); ++cut) {
      if (cut >= c.header && cut % c.cut_step && !marker(cut) && !marker(cut - 1) &&
          !(cut > 1 && marker(cut - 2)))
        continue;
      ASSERT_NE(ff::load_from_memory(c.stream.data(), b.get(), kRecord, 0, 4, std::uint32_t(cut),
                                     nullptr),
                RET_SUCCESS)
          << "cut at " << cut;
      ASSERT_NO_FATAL_FAILURE(expect_sentinel(*b.get(), "cut"));
    }
    auto damaged = [&](const Bytes& s) {
      OwnedBitmap d;
      make_sentinel(d);
      const bool decoded = load(s, d.get()) == RET_SUCCESS;
      EXPECT_TRUE(decoded ? d->data && d->width > 0 : d->width == 2 && d->data[0] == 0x5A);
      (void)info_of(s);
    };
    for (std::size_t at = 0; at < std::min(c.header, w.size()); ++at)
      for (std::uint8_t v : {0x00, 0xFF}) {
        if (w.size() > 100000 && v != (at % 2 ? 0xFF : 0)) continue;
        Bytes d = w;
        d[at] = v;
        damaged(d);
      }
    for (int round = 0; round < (c.cut_step < 8 ? 100 : 20); ++round) {
      Bytes s = c.stream;
      for (int k = 0; k < 1 + round % 8; ++k) s[next() % s.size()] = std::uint8_t(next());
      damaged(s);
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
}

// JPEG kinds no library here decodes (hierarchical, 16-bit DCT, arithmetic coding beyond
// 8 bits) are refused by name; what is not a stream is not recognised; T.4 descriptions that do not
// fit the data or cannot be decoded are refused.
TEST_F(HostCodec, RefusedStreams) {
  REQUIRE_SAMPLES();
  const Bytes fax = sample_data("jitc/i_3041a.ntf"), zeros(64, 0);
  RawDescription refused = t4(67, 8, 8);
  refused.result = RET_INVALID_PARAMETER - 100;  // any code of the caller's, passed on
  // A JP2 file (up to four components once decoded) whose SIZ claims Xsiz, Ysiz, XTsiz
  // and YTsiz of 2^31 - 1.
  Bytes huge = sample_data("j2k/066_389x298_s_11_3_rgb_jp2.ntf");
  const std::uint8_t soc_siz[] = {0xFF, 0x4F, 0xFF, 0x51};
  const auto siz = std::search(huge.begin(), huge.end(), soc_siz, soc_siz + 4) - huge.begin();
  for (long at : {8, 12, 24, 28})
    huge[siz + at] = 0x7F, huge[siz + at + 1] = huge[siz + at + 2] = huge[siz + at + 3] = 0xFF;
  // A 12-bit scan that names its second component twice (the IJG build would leave the
  // third one's buffers unset).
  Bytes twice = with_frame(0xC1, 12, encode(3));
  const std::uint8_t sos[] = {0xFF, 0xDA};
  const auto scan = std::search(twice.begin(), twice.end(), sos, sos + 2) - twice.begin();
  twice[std::size_t(scan) + 9] = twice[std::size_t(scan) + 7];
  const struct {
    const char* what;
    Bytes stream;
    std::int32_t expected;
    std::int64_t kind = -1;  // the file-information kind, when checked (0: not recognised)
    std::optional<RawDescription> raw = {};
  } cases[] = {
      {"16-bit DCT", with_frame(0xC1, 16), RET_NOT_SUPPORTED, ff::kFormatJpeg12Bit},
      {"12-bit arithmetic", with_frame(0xC9, 12), RET_NOT_SUPPORTED, ff::kFormatJpeg12Bit},
      {"lossless arithmetic", with_frame(0xCB, 8), RET_NOT_SUPPORTED, ff::kFormatJpegLossless},
      {"a component twice in a scan", twice, RET_FILE_FORMAT, ff::kFormatJpeg12Bit},
      {"hierarchical", with_frame(0xC5, 8), RET_NOT_SUPPORTED, ff::kFormatJpegHierarchical},
      {"PNG", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13}, RET_FILE_FORMAT, 0},
      {"SOI and EOI", {0xFF, 0xD8, 0xFF, 0xD9}, RET_FILE_FORMAT, 0},
      {"cut in a table", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00}, RET_FILE_FORMAT, 0},
      {"SOC alone", {0xFF, 0x4F, 0xFF, 0x51, 0x00}, RET_FILE_FORMAT, 0},
      {"huge JPEG 2000 tile", huge, RET_NO_MEMORY},
      {"T.4 without description", fax, RET_FILE_FORMAT, 0},
      {"2D described as 1D", fax, RET_FILE_FORMAT, -1, t4(66, 512, 512)},
      {"a row more than the data", fax, RET_FILE_FORMAT, -1, t4(67, 512, 513)},
      {"description refused", zeros, refused.result, -1, refused},
      {"raw kind 70", zeros, RET_NOT_SUPPORTED, -1, t4(70, 8, 8)},
      {"zero width T.4", zeros, RET_INVALID_PARAMETER, -1, t4(67, 0, 8)},
      {"huge T.4", zeros, RET_NO_MEMORY, -1, t4(66, 0x7FFFFFFF, 0x7FFFFFFF)},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.what);
    RawCallbackScope scope(c.raw ? &*c.raw : nullptr);
    AllocationCap cap(64u << 20);
    OwnedBitmap b;
    make_sentinel(b);
    EXPECT_EQ(load(c.stream, b.get()), c.expected);
    expect_sentinel(*b.get(), c.what);
    std::int32_t result = 0;
    const FltFileInfo info = info_of(c.stream, &result);
    if (c.kind < 0) continue;
    EXPECT_EQ(info.format, std::uint32_t(c.kind));
    EXPECT_EQ(result, c.kind ? RET_SUCCESS : RET_FILE_FORMAT);
    EXPECT_TRUE(c.kind || info.width == 0) << "the record is cleared";
  }
  // Bad arguments leave the record as it was; the colour order does not decide the depth.
  const Bytes s = encode(3, rgb);
  const auto n = std::uint32_t(s.size());
  const FltLoadOptions past = options(KV_LOAD_BANDS, {0, 3, 1});
  OwnedBitmap b;
  make_sentinel(b);
  EXPECT_EQ(ff::load_from_memory(s.data(), b.get(), kRecord - 1, 0, 4, n, nullptr),
            RET_INVALID_PARAMETER);
  EXPECT_EQ(ff::load_from_memory(s.data(), b.get(), kRecord, 0, 3, n, nullptr),
            RET_INVALID_PARAMETER);
  EXPECT_EQ(ff::load_from_memory(nullptr, b.get(), kRecord, 0, 4, n, nullptr), RET_MISSING_DATA);
  EXPECT_EQ(load(s, b.get(), nullptr, 8), RET_NOT_SUPPORTED);
  EXPECT_EQ(load(s, b.get(), &past), RET_INVALID_PARAMETER);
  expect_sentinel(*b.get(), "after refused arguments");
  EXPECT_EQ(load(s, b.get(), nullptr, 24, kernel::kColourPalette), RET_SUCCESS);
}

}  // namespace
