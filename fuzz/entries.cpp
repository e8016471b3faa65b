// The calls behind the harnesses and the corpus replay (see entries.h).
#include "entries.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "fileformat/cgm_read.h"
#include "fileformat/fileformat.h"
#include "kernel.h"
#include "tre/json.h"
#include "tre/tre.h"
#include "vector/drawing.h"
#include "writing/savenitf.h"

namespace fuzzing {
namespace {

// A NITF text segment is at most 99,999 bytes (LT has five digits).
constexpr std::uint32_t kLargestText = 99999;

int32_t KV_CALL host_load_from_memory(const void* buffer, KvBitmap* bitmap, uint32_t size,
                                      int32_t bits_per_pixel, int32_t colour_order,
                                      uint32_t byte_count, FltLoadOptions* options) {
  return fileformat::load_from_memory(buffer, reinterpret_cast<kernel::Bitmap*>(bitmap), size,
                                      bits_per_pixel, colour_order, byte_count, options);
}

FltRawDataCallback KV_CALL host_raw_callback(FltRawDataCallback callback, void* user_data) {
  return fileformat::set_raw_data_callback(callback, user_data);
}

int32_t KV_CALL drop_row(void*, FltTargetDescription*, uint8_t*, int32_t, int32_t, int32_t, void*) {
  return 1;
}

struct Document {
  NitfDocument* handle = nullptr;
  ~Document() {
    if (handle) Kv_NITFDestroy(&handle);
  }
};

std::uint32_t document_options(bool extended) {
  return extended ? KV_NITF_EXTENDED : 0u;
}

void walk_headers(NitfDocument* d) {
  NitfHeader file{};
  if (Kv_NITFGetNITFHeader(d, &file) == RET_SUCCESS) Kv_NITFFreeNITFHeader(&file);

  const int32_t images = Kv_NITFGetImageHeaderCount(d);
  for (int32_t i = 0; i < images; ++i) {
    NitfImageHeader image{};
    Kv_NITFGetImageHeader(d, static_cast<uint32_t>(i), &image);
    Kv_NITFFreeImageHeader(&image);
    // Where the image lies: IGEOLO, BLOCKA, GEOLOB and the RPC, all from the file.
    NitfImageCorners corners;
    Kv_NITFGetImageCorners(d, static_cast<uint32_t>(i), &corners);
    double a, b;
    Kv_NITFImageToGround(d, static_cast<uint32_t>(i), 10, 20, 0, &a, &b);
    Kv_NITFGroundToImage(d, static_cast<uint32_t>(i), 35, 45, 100, &a, &b);
  }
  const int32_t graphics = Kv_NITFGetGraphicHeaderCount(d);
  for (int32_t i = 0; i < graphics; ++i) {
    NitfGraphicHeader graphic{};
    Kv_NITFGetGraphicHeader(d, i, &graphic);
    Kv_NITFFreeGraphicHeader(&graphic);
  }
  const int32_t texts = Kv_NITFGetTextHeaderCount(d);
  for (int32_t i = 0; i < texts; ++i) {
    NitfTextHeader text{};
    Kv_NITFGetTextHeader(d, i, &text);
    Kv_NITFFreeTextHeader(&text);
  }
}

void walk_segments(NitfDocument* d) {
  const int32_t texts = Kv_NITFGetTextHeaderCount(d);
  for (int32_t i = 0; i < texts; ++i) {
    uint32_t length = 0;
    if (Kv_NITFGetTextSegment(d, i, nullptr, &length) != RET_SUCCESS) continue;
    if (length > kLargestText) continue;  // the getter reports only what LT can hold
    std::vector<char> buffer(std::size_t{length} + 1);
    Kv_NITFGetTextSegment(d, i, buffer.data(), &length);
  }
  const int32_t graphics = Kv_NITFGetGraphicHeaderCount(d);
  for (int32_t i = 0; i < graphics; ++i) Kv_NITFGetVectorHandle(d, i);
  // Past the ends: the getters must refuse, not read.
  Kv_NITFGetVectorHandle(d, graphics);
  Kv_NITFGetTextSegment(d, texts, nullptr, nullptr);
}

}  // namespace

namespace {

// The data a save writes from memory in place of the source's: an appended image's
// encoded bytes, an appended or replaced drawing's CGM.
bool held_data(NitfDocument* d, nitf::SegmentKind kind, std::size_t i, std::string* out) {
  const kernel::Buffer<std::uint8_t>* held = nullptr;
  if (kind == nitf::SegmentKind::kImage && i < d->images.size() && d->images[i] &&
      d->images[i]->appended)
    held = &d->images[i]->appended_data;
  if (kind == nitf::SegmentKind::kGraphic && i < d->graphics.size() && d->graphics[i] &&
      d->graphics[i]->has_cgm)
    held = &d->graphics[i]->cgm;
  if (!held) return false;
  out->assign(reinterpret_cast<const char*>(held->data()), held->size());
  return true;
}

// A field's characters as a save writes them: a setter's shorter text is padded with
// blanks, and a number is written as the value the module reads from its characters
// (blanks, a sign, the digits up to any other character; none are 0), zero-filled:
// compared here without the zeros.
std::string as_written(const NitfFieldInfo& field, const char* text) {
  std::string value(text);
  if (!(field.flags & KV_FIELD_DIGITS)) {
    value.erase(value.find_last_not_of(' ') + 1);
    return value;
  }
  std::size_t at = value.find_first_not_of(' ');
  if (at == std::string::npos) return "0";
  const bool negative = value[at] == '-';
  if (value[at] == '+' || negative) ++at;
  std::string digits;
  for (; at < value.size() && value[at] >= '0' && value[at] <= '9'; ++at)
    if (value[at] != '0' || !digits.empty()) digits += value[at];
  return digits.empty() ? "0" : (negative ? "-" : "") + digits;
}

}  // namespace

// What a save must keep of a reading: every header field's characters (but FL and HL,
// which a save makes true), every TRE with its place and decoding, and every segment's
// data as its length entry delimits it.
std::string holdings(NitfDocument* d) {
  std::string out;
  const int32_t v20 = d->header.nitf20 ? KV_FIELDS_NITF20 : 0;
  for (int32_t kind : {KV_FIELDS_FILE, KV_FIELDS_IMAGE, KV_FIELDS_GRAPHIC, KV_FIELDS_TEXT,
                       KV_FIELDS_DES, KV_FIELDS_LABEL, KV_FIELDS_RES}) {
    const NitfFieldInfo* fields = nullptr;
    int32_t count = 0;
    if (Kv_NITFGetFieldTable(kind == KV_FIELDS_LABEL ? kind : kind | v20, &fields, &count) !=
        RET_SUCCESS)
      continue;
    const int32_t headers = kind == KV_FIELDS_FILE ? 1 : Kv_NITFGetSegmentCount(d, kind);
    for (int32_t i = 0; i < headers; ++i) {
      out += "\n" + std::to_string(kind) + "/" + std::to_string(i);
      char text[4096];
      for (int32_t f = 0; f < count; ++f)
        if (std::strcmp(fields[f].name, "FL") && std::strcmp(fields[f].name, "HL") &&
            Kv_NITFGetFieldText(d, kind, i, fields[f].name, text, sizeof text) == RET_SUCCESS)
          out = out + " " + fields[f].name + "=" + as_written(fields[f], text);
      int32_t tres = 0;
      Kv_NITFGetTreCount(d, kind, i, &tres);
      for (int32_t t = 0; t < tres; ++t) {
        NitfTreInfo info{};
        char* json = nullptr;
        Kv_NITFGetTreInfo(d, kind, i, t, &info);
        Kv_NITFGetTreJson(d, kind, i, t, &json);
        out = out + " " + std::to_string(info.area) + ":" + (json ? json : "-");
        Kv_NITFFreeTreJson(&json);
      }
    }
  }
  // Texts through their getter, which also has the appended ones (held in memory).
  for (int32_t i = 0; i < Kv_NITFGetTextHeaderCount(d); ++i) {
    uint32_t length = 0;
    if (Kv_NITFGetTextSegment(d, i, nullptr, &length) != RET_SUCCESS || length > kLargestText)
      continue;
    std::string text(length + 1, '\0');
    const int r = Kv_NITFGetTextSegment(d, i, text.data(), &length);
    out += "\ntext " + std::to_string(r) + " " + text;
  }
  using nitf::SegmentKind;
  const std::pair<SegmentKind, const nitf::LengthTables*> kinds[] = {
      {SegmentKind::kImage, &d->header.images},
      {SegmentKind::kGraphic, &d->header.graphics},
      {SegmentKind::kLabel, &d->header.labels},
      {SegmentKind::kDataExtension, &d->header.des}};
  for (const auto& [kind, table] : kinds)
    for (std::size_t i = 0; i < table->data_source.size(); ++i) {
      std::string data;
      if (!held_data(d, kind, i, &data)) {
        const std::int64_t at = nitf::segment_data_offset(*d, kind, std::uint32_t(i));
        const std::int64_t n =
            std::min<std::int64_t>(std::int64_t(table->data(i)), d->file_size - at);
        data.assign(n > 0 ? std::size_t(n) : 0, '\0');
        if (kernel::seek_file(d->file, at, kernel::kSeekSet) == at)
          data.resize(kernel::read_file(d->file, data.data(), data.size()));
        // A masked image's data begin with the table the record holds, as a save writes.
        kernel::Buffer<std::uint8_t> table;
        if (kind == SegmentKind::kImage && i < d->images.size() && d->images[i] &&
            nitf::is_masked(d->images[i]->compression) &&
            nitf::held_mask_table(d->images[i]->mask, &table) == RET_SUCCESS &&
            table.size() <= data.size())
          data.replace(0, table.size(), reinterpret_cast<const char*>(table.data()), table.size());
      }
      out += "\ndata " + std::to_string(int(kind)) + "/" + std::to_string(i) + " " + data;
    }
  return out;
}

// A folder of this process for saved copies, in memory where /dev/shm is.
std::string scratch_file() {
  static const std::string folder = [] {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/kvntfu-round-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
  }();
  return folder + "/copy-" + std::to_string(::getpid()) + ".ntf";
}

int round_trip(const std::wstring& name, const std::uint8_t* extra, std::size_t count,
               bool extended) {
  Document first;
  int r = Kv_NITFCreateEx(&first.handle, name.c_str(), document_options(extended));
  if (r != RET_SUCCESS) return r;
  if (count > 0) {
    MemoryFile text(extra, count);
    if (!text.name().empty()) Kv_NITFAppendTextSegment(first.handle, text.name().c_str());
    // The same bytes as the title, as far as the setter takes them.
    NitfHeader header{};
    if (Kv_NITFGetNITFHeader(first.handle, &header) == RET_SUCCESS) {
      std::string title(reinterpret_cast<const char*>(extra), std::min<std::size_t>(count, 80));
      char* read = header.FTITLE;
      header.FTITLE = title.data();
      Kv_NITFSetNITFHeader(first.handle, &header);
      header.FTITLE = read;
      Kv_NITFFreeNITFHeader(&header);
    }
  }
  const std::string copy = scratch_file();
  r = Kv_NITFSaveFileA(first.handle, copy.c_str());
  if (r != RET_SUCCESS) return r;
  Document again;
  const std::wstring wide(copy.begin(), copy.end());
  const int reopened = Kv_NITFCreateEx(&again.handle, wide.c_str(), document_options(extended));
  const std::string before = holdings(first.handle),
                    after = reopened == RET_SUCCESS ? holdings(again.handle) : "";
  ::unlink(copy.c_str());
  if (before != after) {
    // Where the readings part, for whoever replays the input.
    std::size_t at = 0;
    while (at < before.size() && at < after.size() && before[at] == after[at]) ++at;
    const std::size_t from = at > 60 ? at - 60 : 0;
    std::fprintf(stderr, "round trip: reopened %d; read first: ...%s\nread back: ...%s\n", reopened,
                 before.substr(from, 120).c_str(), after.substr(from, 120).c_str());
    __builtin_trap();
  }
  return r;
}

MemoryFile::MemoryFile(const std::uint8_t* data, std::size_t size) {
  fd_ = ::memfd_create("kvntfu-fuzz", MFD_CLOEXEC);
  if (fd_ < 0) return;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd_, data + done, size - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
  std::string path = "/proc/self/fd/" + std::to_string(fd_);
  name_.assign(path.begin(), path.end());
}

MemoryFile::~MemoryFile() {
  if (fd_ >= 0) ::close(fd_);
}

void limit_allocations(std::size_t bytes) {
  const std::string text = std::to_string(bytes);
  ::setenv("KVNTF_MAX_ALLOC", text.c_str(), 0);
  kernel::set_allocation_cap(0);  // takes the environment's value
}

// Every TRE of every header listed and decoded, data extension segments described.
static void walk_tres(NitfDocument* d) {
  for (int32_t kind : {KV_FIELDS_FILE, KV_FIELDS_IMAGE, KV_FIELDS_GRAPHIC, KV_FIELDS_TEXT,
                       KV_FIELDS_DES, KV_FIELDS_LABEL}) {
    const int32_t headers = kind == KV_FIELDS_FILE ? 1 : Kv_NITFGetSegmentCount(d, kind);
    for (int32_t i = 0; i < headers; ++i) {
      // Every band's LUTs, one band and one table past the last as well.
      for (int32_t b = 0, n = 0; kind == KV_FIELDS_IMAGE && b < 10; ++b)
        for (int32_t t = 0; t < 10; ++t) {
          uint8_t entries[8];
          if (Kv_NITFGetImageLut(d, static_cast<uint32_t>(i), b, t, entries, 8, &n) != RET_SUCCESS)
            break;
        }
      int32_t count = 0;
      Kv_NITFGetTreCount(d, kind, i, &count);
      for (int32_t t = 0; t < count; ++t) {
        char* json = nullptr;
        Kv_NITFGetTreJson(d, kind, i, t, &json);
        Kv_NITFFreeTreJson(&json);
      }
      if (kind == KV_FIELDS_DES) {
        char* json = nullptr;
        Kv_NITFGetDesJson(d, i, &json);
        Kv_NITFFreeTreJson(&json);
      }
    }
  }
}

int walk_document(const std::wstring& name, bool extended) {
  Document doc;
  int r = Kv_NITFCreateEx(&doc.handle, name.c_str(), document_options(extended));
  if (r != RET_SUCCESS) return r;
  Kv_NITFGetStatus(doc.handle);
  walk_headers(doc.handle);
  walk_segments(doc.handle);
  walk_tres(doc.handle);
  return r;
}

int decode_tre(const std::uint8_t* data, std::size_t size) {
  namespace tre = nitf::tre;
  if (size < 6) return RET_BAD_ARGUMENT;
  const std::string_view tag(reinterpret_cast<const char*>(data), 6);
  const tre::Decoded d = tre::decode(tag, data + 6, size - 6);
  const std::string json = tre::to_json(d);
  if (d.status != tre::Status::kDecoded) return RET_SUCCESS;
  tre::JsonValue v;
  std::string reason;
  std::vector<std::uint8_t> again;
  if (!tre::parse_json(json, &v, &reason) || !v.find("fields") ||
      !tre::encode(*tre::find_description(tag), *v.find("fields"), &again, &reason) ||
      again != d.bytes)
    __builtin_trap();
  return RET_SUCCESS;
}

int describe(const std::wstring& name, bool extended) {
  FltLoadOptions options{};
  if (extended) options.flags = KV_LOAD_EXTENDED;
  auto info = std::make_unique<FltFileInfo>();
  FltInfoRequest request{};
  request.file_name = name.c_str();
  request.file_handle = -1;
  request.file_info = info.get();
  request.load_options = &options;
  return fltInfo(&request);
}

int load_rows(const std::wstring& name, std::uint32_t variant, bool extended) {
  static constexpr int32_t kDepths[] = {24, 8, 32};
  FltLoadOptions options{};
  if (variant / 3 % 2) options.flags |= KV_LOAD_ENHANCE;
  if (extended) options.flags |= KV_LOAD_EXTENDED;
  FltTargetDescription target{};
  target.bits_per_pixel = kDepths[variant % 3];
  auto request = std::make_unique<FltLoadRequest>();
  request->file_name = name.c_str();
  request->target = &target;
  request->row_callback = drop_row;
  request->load_options = &options;
  request->load_from_memory = host_load_from_memory;
  request->set_raw_callback = host_raw_callback;
  request->required = 1;
  return fltLoad(request.get());
}

int render(const std::wstring& name, bool extended) {
  Document doc;
  int r = Kv_NITFCreateEx(&doc.handle, name.c_str(), document_options(extended));
  if (r != RET_SUCCESS) return r;
  KvBitmap bitmap{};
  r = Kv_NtfRenderBitmap(&bitmap, doc.handle);
  kernel::free_bitmap(reinterpret_cast<kernel::Bitmap*>(&bitmap));
  return r;
}

namespace {

// Little-endian numbers from the parameter bytes, 0 once they run out.
struct Parameters {
  const std::uint8_t* data;
  std::size_t count, at = 0;
  std::uint32_t next(int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i, ++at) v |= (at < count ? data[at] : 0u) << (8 * i);
    return v;
  }
};

}  // namespace

int read_samples(const std::wstring& name, const std::uint8_t* parameters, std::size_t count,
                 bool extended) {
  Document doc;
  int r = Kv_NITFCreateEx(&doc.handle, name.c_str(), document_options(extended));
  if (r != RET_SUCCESS) return r;
  Parameters p{parameters, count};
  const int32_t images = std::min(Kv_NITFGetImageHeaderCount(doc.handle), 4);
  for (int32_t i = 0; i < images; ++i) {
    KvImageInfo info{};
    r = Kv_NITFGetImageInfo(doc.handle, static_cast<uint32_t>(i), &info);
    std::uint32_t bands[4] = {p.next(1) % 5, p.next(1) % 5, p.next(1) % 5, p.next(1) % 5};
    KvSampleRequest q{p.next(2), p.next(2),         p.next(2),    p.next(2), 1u << (p.next(1) % 12),
                      bands,     1 + p.next(1) % 4, p.next(1) % 3};
    const std::uint64_t rows = q.reduction ? (q.rows + q.reduction - 1) / q.reduction : 0;
    const std::uint64_t cols = q.reduction ? (q.columns + q.reduction - 1) / q.reduction : 0;
    const std::uint64_t stride = cols * q.band_count * 8 + p.next(1) % 8;
    const std::uint64_t size = stride * rows * q.band_count;
    if (size > (std::uint64_t{16} << 20)) continue;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size) + 1);
    r = Kv_NITFReadSamples(doc.handle, static_cast<uint32_t>(i), &q, buffer.data(),
                           static_cast<std::size_t>(size) - p.next(1) % 2, stride);
  }
  // A window of the canvas composed at a small size from the same bytes.
  Parameters w{parameters, count};
  const std::int32_t region[4] = {std::int32_t(w.next(2)), std::int32_t(w.next(2)),
                                  std::int32_t(w.next(2)), std::int32_t(w.next(2))};
  KvBitmap bitmap{};
  const int composed = Kv_NtfRenderRegion(&bitmap, doc.handle, region, 1 + int(w.next(1)) * 2,
                                          1 + int(w.next(1)) * 2);
  kernel::free_bitmap(reinterpret_cast<kernel::Bitmap*>(&bitmap));
  return images > 0 ? r : composed;
}

int read_cgm(const std::uint8_t* data, std::size_t size) {
  if (size > UINT32_MAX) return RET_FILE_FORMAT;
  vector::Drawing drawing;
  int r = fileformat::load_vector_from_memory(data, &drawing, static_cast<std::uint32_t>(size),
                                              nullptr);
  vector::release(&drawing);
  return r;
}

}  // namespace fuzzing
