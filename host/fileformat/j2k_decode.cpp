// JPEG 2000 decoding through OpenJPEG, for raw codestreams and JP2 files.
//
// Before OpenJPEG sees the stream, its SIZ marker is read here and the working set it
// implies (OpenJPEG keeps every component as 32-bit samples, plus coding parameters per
// tile and component) is checked against the kernel's allocation cap: a hostile header
// gets RET_NO_MEMORY, not an allocation of its declared size. OpenJPEG runs in strict
// mode, so a truncated codestream fails instead of decoding to a partial picture, and its
// messages go to the debug sink instead of standard error.
//
// Samples become pixels on component 0's grid: other components of another size are
// sampled at the nearest position. One component keeps its values when its precision is
// at most 8 (palette indices stay indices) and is scaled to 16-bit grey above that; colour
// components are each scaled to 8 bits. Signed samples are shifted to unsigned first.
// No colour transform is made beyond the one the codestream itself asks for (its MCT,
// which OpenJPEG undoes); a JP2 colour-space box is not applied.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <openjpeg.h>

#include "decoders.h"
#include "fileformat.h"
#include "kernel/memory.h"
#include "kernel/sinks.h"

namespace fileformat::detail {
namespace {

constexpr std::uint32_t kMaxPrecision = 16;
constexpr std::uint64_t kBytesPerTileComponent = 8192;  // OpenJPEG's tile coding parameters

struct CodecDeleter {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageDeleter {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

struct MemoryReader {
  ByteView bytes;
  std::size_t position = 0;
};

OPJ_SIZE_T read_bytes(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* r = static_cast<MemoryReader*>(user);
  const std::size_t left = r->bytes.size - r->position;
  if (left == 0) return static_cast<OPJ_SIZE_T>(-1);
  const std::size_t n = count < left ? count : left;
  std::memcpy(buffer, r->bytes.data + r->position, n);
  r->position += n;
  return n;
}

OPJ_OFF_T skip_bytes(OPJ_OFF_T count, void* user) {
  auto* r = static_cast<MemoryReader*>(user);
  if (count < 0) return -1;
  const std::size_t left = r->bytes.size - r->position;
  const std::size_t n = static_cast<std::uint64_t>(count) < left ? std::size_t(count) : left;
  r->position += n;
  return static_cast<OPJ_OFF_T>(n);
}

OPJ_BOOL seek_to(OPJ_OFF_T offset, void* user) {
  auto* r = static_cast<MemoryReader*>(user);
  if (offset < 0 || static_cast<std::uint64_t>(offset) > r->bytes.size) return OPJ_FALSE;
  r->position = static_cast<std::size_t>(offset);
  return OPJ_TRUE;
}

void to_debug(const char* message, void*) {
  std::string line = std::string("fileformat: openjpeg: ") + message;
  kernel::debug_output(line.c_str());
}
void ignore(const char*, void*) {}

// The estimate of what OpenJPEG will hold for this image, against the cap.
// A JP2 palette turns one component into up to four after decoding.
bool fits_cap(const J2kHeader& h, StreamKind kind) {
  std::uint64_t samples = 0, working = 0, parameters = 0;
  const std::uint64_t cap = kernel::allocation_cap();
  const std::uint32_t held = kind == StreamKind::kJp2 ? std::max(h.components, 4u) : h.components;
  if (kernel::mul_overflows(std::uint64_t{h.width} * h.height, held, &samples) ||
      kernel::mul_overflows(samples, 4, &working) ||
      kernel::mul_overflows(h.tiles * h.components, kBytesPerTileComponent, &parameters))
    return false;
  return working <= cap && parameters <= cap - std::min(cap, working);
}

std::unique_ptr<opj_stream_t, StreamDeleter> memory_stream(MemoryReader* reader) {
  std::unique_ptr<opj_stream_t, StreamDeleter> s(opj_stream_create(1 << 16, OPJ_TRUE));
  if (!s) return s;
  opj_stream_set_read_function(s.get(), read_bytes);
  opj_stream_set_skip_function(s.get(), skip_bytes);
  opj_stream_set_seek_function(s.get(), seek_to);
  opj_stream_set_user_data(s.get(), reader, nullptr);
  opj_stream_set_user_data_length(s.get(), reader->bytes.size);
  return s;
}

// One decoding thread per processor, at most kMaxThreads.
int decoder_threads() {
  constexpr unsigned kMaxThreads = 8;
  const unsigned n = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(n, 1u, kMaxThreads));
}

std::unique_ptr<opj_codec_t, CodecDeleter> strict_decoder(StreamKind kind) {
  std::unique_ptr<opj_codec_t, CodecDeleter> c(
      opj_create_decompress(kind == StreamKind::kJp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!c) return c;
  opj_set_error_handler(c.get(), to_debug, nullptr);
  opj_set_warning_handler(c.get(), ignore, nullptr);
  opj_set_info_handler(c.get(), ignore, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(c.get(), &parameters) || !opj_decoder_set_strict_mode(c.get(), OPJ_TRUE)) {
    c.reset();
    return c;
  }
  // Code blocks decode independently, so OpenJPEG's threads give the same samples; a
  // refusal leaves the decoder on one thread.
  if (opj_has_thread_support()) opj_codec_set_threads(c.get(), decoder_threads());
  return c;
}

// The decoded image must hold every sample it claims before pixels are read from it.
std::int32_t check_decoded(const opj_image_t& image) {
  if (image.numcomps == 0 || !image.comps) return RET_FILE_FORMAT;
  for (std::uint32_t c = 0; c < image.numcomps; ++c) {
    const opj_image_comp_t& comp = image.comps[c];
    if (!comp.data || comp.w == 0 || comp.h == 0 || comp.prec == 0) return RET_FILE_FORMAT;
    if (comp.prec > kMaxPrecision) return RET_NOT_SUPPORTED;
  }
  const opj_image_comp_t& first = image.comps[0];
  if (first.w > INT32_MAX || first.h > INT32_MAX) return RET_NO_MEMORY;
  return RET_SUCCESS;
}

// Sample of component `comp` at (x, y) of component 0's grid, unsigned.
std::uint32_t sample(const opj_image_comp_t& comp, const opj_image_comp_t& grid, std::uint32_t x,
                     std::uint32_t y) {
  const std::uint64_t cx = comp.w == grid.w ? x : std::uint64_t{x} * comp.w / grid.w;
  const std::uint64_t cy = comp.h == grid.h ? y : std::uint64_t{y} * comp.h / grid.h;
  std::int64_t v = comp.data[cy * comp.w + cx];
  if (comp.sgnd) v += std::int64_t{1} << (comp.prec - 1);
  const std::int64_t max = (std::int64_t{1} << comp.prec) - 1;
  return static_cast<std::uint32_t>(v < 0 ? 0 : (v > max ? max : v));
}

void fill_grey(const opj_image_t& image, std::uint32_t c, kernel::Bitmap* out) {
  const opj_image_comp_t& grid = image.comps[0];
  const opj_image_comp_t& comp = image.comps[c];
  for (std::uint32_t y = 0; y < grid.h; ++y) {
    std::uint8_t* row = kernel::storage_row(*out, static_cast<std::int32_t>(y));
    for (std::uint32_t x = 0; x < grid.w; ++x) {
      const std::uint32_t v = sample(comp, grid, x, y);
      if (out->bits_per_pixel == 8) {
        row[x] = static_cast<std::uint8_t>(v);
      } else {
        const std::uint16_t wide = scale_to_16(v, comp.prec);
        std::memcpy(row + 2 * std::size_t{x}, &wide, 2);
      }
    }
  }
}

// An unsigned 8-bit component on component 0's grid: its samples are the pixels' bytes,
// cut to 0..255 as sample() cuts them.
bool plain_bytes(const opj_image_comp_t& comp, const opj_image_comp_t& grid) {
  return comp.w == grid.w && comp.h == grid.h && !comp.sgnd && comp.prec == 8;
}

std::uint8_t cut_to_byte(OPJ_INT32 v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void fill_colour(const opj_image_t& image, const OutputPlan& plan, kernel::Bitmap* out) {
  const opj_image_comp_t& grid = image.comps[0];
  const opj_image_comp_t* bgr[3] = {&image.comps[plan.blue], &image.comps[plan.green],
                                    &image.comps[plan.red]};
  if (plain_bytes(*bgr[0], grid) && plain_bytes(*bgr[1], grid) && plain_bytes(*bgr[2], grid)) {
    for (std::uint32_t y = 0; y < grid.h; ++y) {
      std::uint8_t* row = kernel::storage_row(*out, static_cast<std::int32_t>(y));
      const std::size_t at = std::size_t{y} * grid.w;
      const OPJ_INT32 *b = bgr[0]->data + at, *g = bgr[1]->data + at, *r = bgr[2]->data + at;
      for (std::uint32_t x = 0; x < grid.w; ++x, row += 3) {
        row[0] = cut_to_byte(b[x]);
        row[1] = cut_to_byte(g[x]);
        row[2] = cut_to_byte(r[x]);
      }
    }
    return;
  }
  for (std::uint32_t y = 0; y < grid.h; ++y) {
    std::uint8_t* row = kernel::storage_row(*out, static_cast<std::int32_t>(y));
    for (std::uint32_t x = 0; x < grid.w; ++x)
      for (int i = 0; i < 3; ++i)
        row[3 * std::size_t{x} + i] = scale_to_8(sample(*bgr[i], grid, x, y), bgr[i]->prec);
  }
}

std::int32_t to_bitmap(const opj_image_t& image, const FltLoadOptions* options,
                       kernel::Bitmap* out) {
  OutputPlan plan;
  std::int32_t result = plan_output(image.numcomps, options, &plan);
  if (result != RET_SUCCESS) return result;
  const opj_image_comp_t& grid = image.comps[0];
  const int bits = plan.grey ? (image.comps[plan.red].prec > 8 ? 16 : 8) : 24;
  result = kernel::create_bitmap(
      out, kernel::kBitmapRecordSize, 1, static_cast<std::int32_t>(grid.w),
      static_cast<std::int32_t>(grid.h), bits, plan.grey ? kernel::kColourGrey : kernel::kColourRgb,
      nullptr, kernel::kViewTopDown, nullptr, 0);
  if (result != RET_SUCCESS) return result;
  if (plan.grey)
    fill_grey(image, plan.red, out);
  else
    fill_colour(image, plan, out);
  return RET_SUCCESS;
}

}  // namespace

std::int32_t decode_j2k(ByteView stream, StreamKind kind, const FltLoadOptions* options,
                        kernel::Bitmap* out) {
  J2kHeader header;
  const std::int32_t probed = probe_j2k(stream, kind, &header);
  if (probed != RET_SUCCESS) return probed;
  if (header.precision > kMaxPrecision) return RET_NOT_SUPPORTED;
  if (!fits_cap(header, kind)) return RET_NO_MEMORY;
  MemoryReader reader{stream};
  auto codec = strict_decoder(kind);
  auto source = memory_stream(&reader);
  if (!codec || !source) return RET_NO_MEMORY;
  opj_image_t* raw_image = nullptr;
  const bool header_read = opj_read_header(source.get(), codec.get(), &raw_image);
  std::unique_ptr<opj_image_t, ImageDeleter> image(raw_image);
  if (!header_read || !image) return RET_FILE_FORMAT;
  if (!opj_decode(codec.get(), source.get(), image.get()) ||
      !opj_end_decompress(codec.get(), source.get()))
    return RET_FILE_FORMAT;
  const std::int32_t checked = check_decoded(*image);
  return checked != RET_SUCCESS ? checked : to_bitmap(*image, options, out);
}

}  // namespace fileformat::detail
