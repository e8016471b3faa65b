// The calls behind the harnesses and the corpus replay (see entries.h).
#include "entries.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include <kvntfu.h>

#include "fileformat/cgm_read.h"
#include "fileformat/fileformat.h"
#include "kernel.h"
#include "vector/drawing.h"

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

int walk_document(const std::wstring& name, bool extended) {
  Document doc;
  int r = Kv_NITFCreateEx(&doc.handle, name.c_str(), document_options(extended));
  if (r != RET_SUCCESS) return r;
  Kv_NITFGetStatus(doc.handle);
  walk_headers(doc.handle);
  walk_segments(doc.handle);
  return r;
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

int read_cgm(const std::uint8_t* data, std::size_t size) {
  if (size > UINT32_MAX) return RET_FILE_FORMAT;
  vector::Drawing drawing;
  int r = fileformat::load_vector_from_memory(data, &drawing, static_cast<std::uint32_t>(size),
                                              nullptr);
  vector::release(&drawing);
  return r;
}

}  // namespace fuzzing
