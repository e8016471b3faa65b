// JPEG 2000 decoding through OpenJPEG, for raw codestreams and JP2 files.
//
// Before OpenJPEG sees the stream, its SIZ marker is read here and the working set it
// implies (OpenJPEG keeps every component as 32-bit samples, plus coding parameters per
// tile and component) is checked against the kernel's allocation cap: a hostile header
// gets RET_NO_MEMORY, not an allocation of its declared size. OpenJPEG runs in strict
// mode, so a truncated codestream fails instead of decoding to a partial picture, and its
// messages go to the debug sink instead of standard error. Large codestreams are decoded
// in pieces (strips or tiles) straight into the output, which may be the caller's
// (KV_LOAD_INTO). Areas are read from a StreamSource: OpenJPEG reads the main header and
// then seeks from tile to tile, reading only the tiles the area meets, so a window of a
// large file costs its tiles' bytes, not the codestream's.
//
// Samples become pixels on component 0's grid: other components of another size are
// sampled at the nearest position. One component keeps its values when its precision is
// at most 8 (palette indices stay indices) and is scaled to 16-bit grey above that; colour
// components of more than 8 bits show the top 8 bits of that 16-bit scaling, as grey ones
// are shown, and shallower ones are scaled to 8 bits. Signed samples are shifted to
// unsigned first. Y, Cb and Cr (a JP2 colour box of sYCC, or subsampled chroma, as
// OpenJPEG's own tools take them) are shown in RGB by the sYCC equations; no other colour
// transform is made beyond the codestream's own (its MCT, which OpenJPEG undoes). A JP2
// file whose image header disagrees with its codestream is decoded from the codestream.
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

// Where OpenJPEG's stream reads: bytes in memory, or a source read on demand (a
// segment of a file, each read bounded to the stream's size).
struct StreamReader {
  ByteView bytes;
  const StreamSource* source = nullptr;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
};

StreamReader memory_reader(ByteView bytes) {
  return StreamReader{bytes, nullptr, bytes.size, 0};
}

OPJ_SIZE_T read_bytes(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* r = static_cast<StreamReader*>(user);
  const std::uint64_t left = r->size - r->position;
  if (left == 0) return static_cast<OPJ_SIZE_T>(-1);
  const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
  if (r->source) {
    if (r->source->read(r->source->self, r->position, n, static_cast<std::uint8_t*>(buffer)) !=
        RET_SUCCESS)
      return static_cast<OPJ_SIZE_T>(-1);
  } else {
    std::memcpy(buffer, r->bytes.data + r->position, n);
  }
  r->position += n;
  return n;
}

OPJ_OFF_T skip_bytes(OPJ_OFF_T count, void* user) {
  auto* r = static_cast<StreamReader*>(user);
  if (count < 0) return -1;
  const std::uint64_t n =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(count), r->size - r->position);
  r->position += n;
  return static_cast<OPJ_OFF_T>(n);
}

OPJ_BOOL seek_to(OPJ_OFF_T offset, void* user) {
  auto* r = static_cast<StreamReader*>(user);
  if (offset < 0 || static_cast<std::uint64_t>(offset) > r->size) return OPJ_FALSE;
  r->position = static_cast<std::uint64_t>(offset);
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

std::unique_ptr<opj_stream_t, StreamDeleter> opj_source(StreamReader* reader) {
  std::unique_ptr<opj_stream_t, StreamDeleter> s(opj_stream_create(1 << 16, OPJ_TRUE));
  if (!s) return s;
  opj_stream_set_read_function(s.get(), read_bytes);
  opj_stream_set_skip_function(s.get(), skip_bytes);
  opj_stream_set_seek_function(s.get(), seek_to);
  opj_stream_set_user_data(s.get(), reader, nullptr);
  opj_stream_set_user_data_length(s.get(), reader->size);
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

// One component's samples over a rectangle: OpenJPEG's image components hold 32-bit
// samples, its tile data 1, 2 or 4 bytes per sample as the precision needs.
struct Plane {
  const void* data = nullptr;
  std::uint32_t bytes = 4;
  bool sgnd = false;
  std::uint32_t prec = 8;
  std::uint32_t w = 0, h = 0;

  std::int64_t raw(std::size_t i) const {
    switch (bytes) {
      case 1:
        return sgnd ? std::int64_t{static_cast<const std::int8_t*>(data)[i]}
                    : std::int64_t{static_cast<const std::uint8_t*>(data)[i]};
      case 2:
        return sgnd ? std::int64_t{static_cast<const std::int16_t*>(data)[i]}
                    : std::int64_t{static_cast<const std::uint16_t*>(data)[i]};
      default:
        return static_cast<const OPJ_INT32*>(data)[i];
    }
  }
};

Plane plane_of(const opj_image_comp_t& comp) {
  return Plane{comp.data, 4, comp.sgnd != 0, comp.prec, comp.w, comp.h};
}

// Sample of `comp` at (x, y) of the grid `grid` (component 0's), unsigned.
std::uint32_t sample(const Plane& comp, const Plane& grid, std::uint32_t x, std::uint32_t y) {
  const std::uint64_t cx = comp.w == grid.w ? x : std::uint64_t{x} * comp.w / grid.w;
  const std::uint64_t cy = comp.h == grid.h ? y : std::uint64_t{y} * comp.h / grid.h;
  std::int64_t v = comp.raw(static_cast<std::size_t>(cy * comp.w + cx));
  if (comp.sgnd) v += std::int64_t{1} << (comp.prec - 1);
  const std::int64_t max = (std::int64_t{1} << comp.prec) - 1;
  return static_cast<std::uint32_t>(v < 0 ? 0 : (v > max ? max : v));
}

// Where a decoded rectangle goes in the output: its left column and top row.
struct Place {
  std::uint32_t left = 0, top = 0;
};

// The output may be the caller's (KV_LOAD_INTO), of either row order.
std::uint8_t* out_row(kernel::Bitmap* out, const Place& at, std::uint32_t y, std::uint32_t bytes) {
  const auto top = static_cast<std::int32_t>(at.top + y);
  std::uint8_t* row = kernel::pixel_row(*out, kernel::top_down_row(*out, top));
  return row + std::size_t{at.left} * bytes;
}

// Whether every row of a w x h rectangle at `at` lies in the output's data.
bool rows_inside(kernel::Bitmap* out, const Place& at, std::uint32_t w, std::uint32_t h) {
  const auto bits = static_cast<std::uint64_t>(out->bits_per_pixel);
  if (std::uint64_t{at.left} + w > static_cast<std::uint64_t>(out->width)) return false;
  for (std::uint32_t y = 0; y < h; ++y)
    if (!kernel::pixel_row(*out, kernel::top_down_row(*out, static_cast<std::int32_t>(at.top + y))))
      return false;
  return bits % 8 == 0;
}

void fill_grey(const Plane& grid, const Plane& comp, const Place& at, kernel::Bitmap* out) {
  const std::uint32_t bytes = static_cast<std::uint32_t>(out->bits_per_pixel) / 8;
  for (std::uint32_t y = 0; y < grid.h; ++y) {
    std::uint8_t* row = out_row(out, at, y, bytes);
    for (std::uint32_t x = 0; x < grid.w; ++x) {
      const std::uint32_t v = sample(comp, grid, x, y);
      if (bytes == 1) {
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
bool plain_bytes(const Plane& comp, const Plane& grid) {
  return comp.w == grid.w && comp.h == grid.h && !comp.sgnd && comp.prec == 8;
}

std::uint8_t cut_to_byte(OPJ_INT32 v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

template <class T>
void interleave_bytes(const Plane* const bgr[3], const Plane& grid, const Place& at,
                      kernel::Bitmap* out) {
  for (std::uint32_t y = 0; y < grid.h; ++y) {
    std::uint8_t* row = out_row(out, at, y, 3);
    const std::size_t first = std::size_t{y} * grid.w;
    const T* b = static_cast<const T*>(bgr[0]->data) + first;
    const T* g = static_cast<const T*>(bgr[1]->data) + first;
    const T* r = static_cast<const T*>(bgr[2]->data) + first;
    for (std::uint32_t x = 0; x < grid.w; ++x, row += 3) {
      row[0] = cut_to_byte(b[x]);
      row[1] = cut_to_byte(g[x]);
      row[2] = cut_to_byte(r[x]);
    }
  }
}

// A colour sample as shown: deep samples by the top 8 bits of their 16-bit scaling, as a
// grey picture of the same samples is shown.
std::uint8_t shown_8(std::uint32_t v, std::uint32_t precision) {
  return precision <= 8 ? scale_to_8(v, precision)
                        : static_cast<std::uint8_t>(scale_to_16(v, precision) >> 8);
}

void fill_colour(const Plane* const bgr[3], const Plane& grid, const Place& at,
                 kernel::Bitmap* out) {
  if (plain_bytes(*bgr[0], grid) && plain_bytes(*bgr[1], grid) && plain_bytes(*bgr[2], grid) &&
      bgr[0]->bytes == bgr[1]->bytes && bgr[1]->bytes == bgr[2]->bytes) {
    if (bgr[0]->bytes == 1) return interleave_bytes<std::uint8_t>(bgr, grid, at, out);
    if (bgr[0]->bytes == 4) return interleave_bytes<OPJ_INT32>(bgr, grid, at, out);
  }
  for (std::uint32_t y = 0; y < grid.h; ++y) {
    std::uint8_t* row = out_row(out, at, y, 3);
    for (std::uint32_t x = 0; x < grid.w; ++x)
      for (int i = 0; i < 3; ++i)
        row[3 * std::size_t{x} + i] = shown_8(sample(*bgr[i], grid, x, y), bgr[i]->prec);
  }
}

// Y, Cb, Cr (components 0, 1, 2) in RGB by the sYCC equations (ITU-R BT.601 full range),
// each term cut toward zero and the result clamped to Y's range, as OpenJPEG's tools do.
void fill_ycc(const Plane* planes, const Place& at, kernel::Bitmap* out) {
  const Plane &luma = planes[0], &blue = planes[1], &red = planes[2];
  const std::int64_t top = (std::int64_t{1} << luma.prec) - 1;
  const std::int64_t cb_zero = std::int64_t{1} << (blue.prec - 1);
  const std::int64_t cr_zero = std::int64_t{1} << (red.prec - 1);
  auto shown = [&](std::int64_t v) {
    return shown_8(static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, top)), luma.prec);
  };
  for (std::uint32_t y = 0; y < luma.h; ++y) {
    std::uint8_t* row = out_row(out, at, y, 3);
    for (std::uint32_t x = 0; x < luma.w; ++x, row += 3) {
      const std::int64_t l = sample(luma, luma, x, y);
      const double cb = static_cast<double>(sample(blue, luma, x, y)) - cb_zero;
      const double cr = static_cast<double>(sample(red, luma, x, y)) - cr_zero;
      row[2] = shown(l + static_cast<std::int64_t>(1.402 * cr));
      row[1] = shown(l - static_cast<std::int64_t>(0.344 * cb + 0.714 * cr));
      row[0] = shown(l + static_cast<std::int64_t>(1.772 * cb));
    }
  }
}

// The output picture: component 0's size, and the depth the shown components give.
struct Layout {
  OutputPlan plan;
  std::uint32_t width = 0, height = 0;
  int bits = 0;
  bool ycc = false;  // components 0 to 2 are Y, Cb, Cr, shown in RGB
};

std::int32_t plan_layout(const opj_image_t& image, const J2kHeader& h,
                         const FltLoadOptions* options, Layout* l) {
  const std::int32_t result = plan_output(image.numcomps, options, &l->plan);
  if (result != RET_SUCCESS) return result;
  l->ycc = h.ycc && !l->plan.grey && image.numcomps >= 3;
  l->width = image.comps[0].w;
  l->height = image.comps[0].h;
  l->bits = l->plan.grey ? (image.comps[l->plan.red].prec > 8 ? 16 : 8) : 24;
  return RET_SUCCESS;
}

std::int32_t prepare(const Layout& l, const FltLoadOptions* options, kernel::Bitmap* out) {
  return prepare_output(out, options, l.width, l.height, l.bits,
                        l.plan.grey ? kernel::kColourGrey : kernel::kColourRgb);
}

// Turns the shown components of a decoded rectangle into the output's pixels there.
// `planes` holds every component of the rectangle, component 0 first.
std::int32_t fill(const Layout& l, const Plane* planes, const Place& at, kernel::Bitmap* out) {
  if (!rows_inside(out, at, planes[0].w, planes[0].h)) return RET_FILE_FORMAT;
  if (l.plan.grey) {
    fill_grey(planes[0], planes[l.plan.red], at, out);
  } else if (l.ycc) {
    fill_ycc(planes, at, out);
  } else {
    const Plane* const bgr[3] = {&planes[l.plan.blue], &planes[l.plan.green], &planes[l.plan.red]};
    fill_colour(bgr, planes[0], at, out);
  }
  return RET_SUCCESS;
}

// ----- Whole image ----------------------------------------------------------------------

std::int32_t decode_whole(opj_codec_t* codec, opj_stream_t* source, opj_image_t* image,
                          const J2kHeader& h, const FltLoadOptions* options, kernel::Bitmap* out) {
  if (!opj_decode(codec, source, image) || !opj_end_decompress(codec, source))
    return RET_FILE_FORMAT;
  std::int32_t result = check_decoded(*image);
  Layout l;
  if (result == RET_SUCCESS) result = plan_layout(*image, h, options, &l);
  if (result == RET_SUCCESS) result = prepare(l, options, out);
  if (result != RET_SUCCESS) return result;
  kernel::Buffer<Plane> planes;
  if (!planes.allocate(image->numcomps)) return RET_NO_MEMORY;
  for (std::uint32_t c = 0; c < image->numcomps; ++c) planes[c] = plane_of(image->comps[c]);
  return fill(l, planes.data(), Place{}, out);
}

// ----- Pieces -----------------------------------------------------------------------------
//
// OpenJPEG holds what it decodes as 32-bit samples of every component, four times the
// picture's bytes and more. A large image is therefore decoded in pieces, each turned into
// the output's pixels before the next: a codestream of one tile in strips of rows (its
// coding data are read once and kept; code blocks that reach over a strip's edge stay
// decoded for the next strip), one of several tiles tile by tile. Both need every
// component on the reference grid; samples and pixels are the same as a whole decoding.

constexpr std::uint64_t kWholeUpTo = std::uint64_t{16} << 20;  // OpenJPEG's bytes for samples
// A strip's samples: OpenJPEG holds them twice over while it decodes them, beside the
// code blocks around the strip (about as many bytes again) and the coding data. Taller
// strips decode faster (fewer passes over the coding data, less memory taken and given
// back per row): 128 rows of the 4096-pixel RGB benchmark picture hold its peak within
// 2.5 times the canvas, 256 rows decode it about a tenth faster for 14 MiB more.
constexpr std::uint64_t kStripBytes = std::uint64_t{6} << 20;

bool decodes_in_pieces(const opj_image_t& header, StreamKind kind, const J2kHeader& h) {
  if (kind != StreamKind::kCodestream || header.numcomps == 0 || !header.comps) return false;
  for (std::uint32_t c = 0; c < header.numcomps; ++c) {
    const opj_image_comp_t& comp = header.comps[c];
    if (comp.dx != 1 || comp.dy != 1 || comp.prec == 0 || comp.prec > kMaxPrecision) return false;
    // A tile the stream leaves out reads as zero samples: zero pixels only when unsigned.
    if (comp.sgnd && h.tiles > 1) return false;
  }
  const std::uint64_t width = header.x1 - header.x0, height = header.y1 - header.y0;
  return width == header.comps[0].w && height == header.comps[0].h &&
         width * height * header.numcomps * 4 > kWholeUpTo;
}

// Whether a decoded strip holds what was asked: every component `width` by `rows`.
bool strip_as_asked(const opj_image_t& image, std::uint32_t width, std::uint32_t rows) {
  if (check_decoded(image) != RET_SUCCESS) return false;
  for (std::uint32_t c = 0; c < image.numcomps; ++c)
    if (image.comps[c].w != width || image.comps[c].h != rows) return false;
  return true;
}

// Strip edges in the middle of a row of the finest level's code blocks: a strip then
// needs two rows of them, not three, since the wavelet reaches a few samples past an
// edge. Those code blocks are 2 x (code block height) rows of the picture high.
struct StripRows {
  OPJ_UINT32 first_edge = 0, rows = 0;
};

StripRows strip_rows(opj_codec_t* codec, const opj_image_t& image) {
  std::uint32_t height_log2 = 6;
  if (opj_codestream_info_v2_t* info = opj_get_cstr_info(codec)) {
    if (info->m_default_tile_info.tccp_info)
      height_log2 = std::clamp(info->m_default_tile_info.tccp_info[0].cblkh, 2u, 10u);
    opj_destroy_cstr_info(&info);
  }
  const OPJ_UINT32 step = 2u << height_log2, half = step / 2;
  const std::uint64_t row_bytes = std::uint64_t{image.x1 - image.x0} * image.numcomps * 4;
  StripRows s;
  s.rows =
      static_cast<OPJ_UINT32>(std::max<std::uint64_t>(kStripBytes / row_bytes / step * step, step));
  s.first_edge = image.y0 / step * step + half;
  if (s.first_edge <= image.y0) s.first_edge += step;
  return s;
}

std::int32_t decode_strips(opj_codec_t* codec, opj_stream_t* source, opj_image_t* image,
                           const Layout& l, kernel::Bitmap* out) {
  const OPJ_UINT32 x0 = image->x0, y0 = image->y0, x1 = image->x1, y1 = image->y1;
  kernel::Buffer<Plane> planes;
  if (!planes.allocate(image->numcomps)) return RET_NO_MEMORY;
  const StripRows strips = strip_rows(codec, *image);
  for (OPJ_UINT32 top = y0, edge = strips.first_edge; top < y1; edge += strips.rows) {
    const OPJ_UINT32 bottom = std::min(edge, y1);
    if (!opj_set_decode_area(codec, image, static_cast<OPJ_INT32>(x0), static_cast<OPJ_INT32>(top),
                             static_cast<OPJ_INT32>(x1), static_cast<OPJ_INT32>(bottom)) ||
        !opj_decode(codec, source, image))
      return RET_FILE_FORMAT;
    if (image->numcomps != planes.size() || !strip_as_asked(*image, l.width, bottom - top))
      return RET_FILE_FORMAT;
    for (std::uint32_t c = 0; c < image->numcomps; ++c) planes[c] = plane_of(image->comps[c]);
    if (const std::int32_t r = fill(l, planes.data(), Place{0, top - y0}, out); r != RET_SUCCESS)
      return r;
    top = bottom;
  }
  return opj_end_decompress(codec, source) ? RET_SUCCESS : RET_FILE_FORMAT;
}

// A tile as opj_read_tile_header describes it.
struct TileHeader {
  OPJ_UINT32 index = 0, size = 0, components = 0;
  OPJ_INT32 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  std::uint32_t width() const { return static_cast<std::uint32_t>(x1 - x0); }
  std::uint32_t height() const { return static_cast<std::uint32_t>(y1 - y0); }
};

// The tile must lie inside the picture and have the picture's components.
bool tile_inside(const TileHeader& t, const opj_image_t& image) {
  return t.components == image.numcomps && t.x0 >= static_cast<OPJ_INT32>(image.x0) &&
         t.y0 >= static_cast<OPJ_INT32>(image.y0) && t.x1 > t.x0 && t.y1 > t.y0 &&
         static_cast<OPJ_UINT32>(t.x1) <= image.x1 && static_cast<OPJ_UINT32>(t.y1) <= image.y1;
}

// The planes of a tile's data, each component's samples after the other's; false when
// the tile's data size is not theirs.
bool tile_planes(const opj_image_t& image, const TileHeader& t, Plane* planes) {
  const std::uint32_t w = t.width(), h = t.height();
  std::uint64_t expected = 0;
  for (std::uint32_t c = 0; c < image.numcomps; ++c) {
    const opj_image_comp_t& comp = image.comps[c];
    const std::uint32_t bytes = comp.prec <= 8 ? 1 : (comp.prec <= 16 ? 2 : 4);
    planes[c] = Plane{nullptr, bytes, comp.sgnd != 0, comp.prec, w, h};
    expected += std::uint64_t{w} * h * bytes;
  }
  return expected == t.size;
}

// Decodes one tile into `data` (grown when it is too small) and fills its place.
std::int32_t decode_tile(opj_codec_t* codec, opj_stream_t* source, const opj_image_t& image,
                         const TileHeader& t, const Layout& l, Plane* planes,
                         kernel::Buffer<std::uint8_t>* data, kernel::Bitmap* out) {
  if (!tile_planes(image, t, planes)) return RET_FILE_FORMAT;
  if (data->size() < t.size && !data->allocate(t.size)) return RET_NO_MEMORY;
  if (!opj_decode_tile_data(codec, t.index, data->data(), t.size, source)) return RET_FILE_FORMAT;
  const std::uint8_t* at = data->data();
  for (std::uint32_t c = 0; c < image.numcomps; ++c) {
    planes[c].data = at;
    at += std::size_t{t.width()} * t.height() * planes[c].bytes;
  }
  const Place place{static_cast<std::uint32_t>(t.x0) - image.x0,
                    static_cast<std::uint32_t>(t.y0) - image.y0};
  return fill(l, planes, place, out);
}

std::int32_t decode_tiles(opj_codec_t* codec, opj_stream_t* source, const opj_image_t& image,
                          const Layout& l, kernel::Bitmap* out) {
  kernel::Buffer<Plane> planes;
  kernel::Buffer<std::uint8_t> data;
  if (!planes.allocate(image.numcomps)) return RET_NO_MEMORY;
  for (;;) {
    TileHeader t;
    OPJ_BOOL more = OPJ_FALSE;
    if (!opj_read_tile_header(codec, source, &t.index, &t.size, &t.x0, &t.y0, &t.x1, &t.y1,
                              &t.components, &more))
      return RET_FILE_FORMAT;
    if (!more) break;
    if (!tile_inside(t, image)) return RET_FILE_FORMAT;
    if (const std::int32_t r = decode_tile(codec, source, image, t, l, planes.data(), &data, out);
        r != RET_SUCCESS)
      return r;
  }
  return opj_end_decompress(codec, source) ? RET_SUCCESS : RET_FILE_FORMAT;
}

std::int32_t decode_pieces(opj_codec_t* codec, opj_stream_t* source, opj_image_t* image,
                           const J2kHeader& h, const FltLoadOptions* options, kernel::Bitmap* out) {
  Layout l;
  std::int32_t result = plan_layout(*image, h, options, &l);
  if (result == RET_SUCCESS) result = prepare(l, options, out);
  if (result != RET_SUCCESS) return result;
  return h.tiles == 1 ? decode_strips(codec, source, image, l, out)
                      : decode_tiles(codec, source, *image, l, out);
}

std::uint32_t decompositions(opj_codec_t* codec) {
  std::uint32_t levels = 0;
  if (opj_codestream_info_v2_t* info = opj_get_cstr_info(codec)) {
    if (info->m_default_tile_info.tccp_info && info->nbcomps != 0) {
      levels = info->m_default_tile_info.tccp_info[0].numresolutions;
      for (std::uint32_t c = 1; c < info->nbcomps; ++c)
        levels = std::min(levels, info->m_default_tile_info.tccp_info[c].numresolutions);
    }
    opj_destroy_cstr_info(&info);
  }
  return levels == 0 ? 0 : levels - 1;
}

// An area is decoded whole at its level: OpenJPEG decodes only the code blocks that
// reach it, and its samples are a fraction of the picture's. A level finer than asked
// would cost more for nothing the caller can use, so the coarsest one stands in.
std::int32_t decode_area(opj_codec_t* codec, opj_stream_t* source, opj_image_t* image,
                         const J2kHeader& h, const FltLoadOptions* options, const J2kArea& a,
                         kernel::Bitmap* out) {
  const std::uint64_t width = image->x1 - image->x0, height = image->y1 - image->y0;
  if (a.x0 >= a.x1 || a.y0 >= a.y1 || a.x1 > width || a.y1 > height) return RET_FILE_FORMAT;
  // Subsampled components would be cut on their own grids, not the picture's.
  for (std::uint32_t c = 0; c < image->numcomps; ++c)
    if (image->comps[c].dx != 1 || image->comps[c].dy != 1) return RET_NOT_SUPPORTED;
  if (!opj_set_decoded_resolution_factor(codec, std::min(a.reduce, decompositions(codec))) ||
      !opj_set_decode_area(codec, image, static_cast<OPJ_INT32>(image->x0 + a.x0),
                           static_cast<OPJ_INT32>(image->y0 + a.y0),
                           static_cast<OPJ_INT32>(image->x0 + a.x1),
                           static_cast<OPJ_INT32>(image->y0 + a.y1)))
    return RET_FILE_FORMAT;
  return decode_whole(codec, source, image, h, options, out);
}

// A decoder with the stream's main header read: the image OpenJPEG describes it by, and
// the bytes it reads (held here when they had to be read into memory).
struct Opened {
  kernel::Buffer<std::uint8_t> held;
  StreamReader reader;
  J2kHeader header;
  StreamKind kind = StreamKind::kCodestream;
  std::unique_ptr<opj_codec_t, CodecDeleter> codec;
  std::unique_ptr<opj_stream_t, StreamDeleter> source;
  std::unique_ptr<opj_image_t, ImageDeleter> image;
};

// Reads the main header; `o->reader`, `kind` and `header` are set and probed already.
std::int32_t read_main_header(Opened* o) {
  o->codec = strict_decoder(o->kind);
  o->source = opj_source(&o->reader);
  if (!o->codec || !o->source) return RET_NO_MEMORY;
  opj_image_t* raw = nullptr;
  const bool read = opj_read_header(o->source.get(), o->codec.get(), &raw);
  o->image.reset(raw);
  return read && o->image && o->image->numcomps != 0 ? RET_SUCCESS : RET_FILE_FORMAT;
}

// The whole decoded stream's first bytes: SIZ follows SOC, and at most 16384 components
// make it at most 49 190 bytes long.
constexpr std::size_t kHeadBytes = std::size_t{64} << 10;

// A source's stream made ready to decode: a raw codestream stays where it is (only its
// first bytes are read here, for the probe), a JP2 file is read into memory.
std::int32_t open_source(const StreamSource& s, Opened* o) {
  if (!s.read || s.size == 0) return RET_MISSING_DATA;
  const auto head = static_cast<std::size_t>(std::min<std::uint64_t>(s.size, kHeadBytes));
  if (!o->held.allocate(head)) return RET_NO_MEMORY;
  if (std::int32_t r = s.read(s.self, 0, head, o->held.data()); r != RET_SUCCESS) return r;
  ByteView stream{o->held.data(), head};
  std::size_t jpeg_start = 0;
  o->kind = stream_kind(stream, &jpeg_start);
  if (o->kind == StreamKind::kCodestream) {
    o->reader = StreamReader{{}, &s, s.size, 0};
    return probe_j2k(stream, o->kind, &o->header);
  }
  if (o->kind != StreamKind::kJp2) return RET_FILE_FORMAT;
  if (s.size > UINT32_MAX) return RET_NO_MEMORY;
  if (!o->held.allocate(static_cast<std::size_t>(s.size))) return RET_NO_MEMORY;
  if (std::int32_t r = s.read(s.self, 0, o->held.size(), o->held.data()); r != RET_SUCCESS)
    return r;
  stream = ByteView{o->held.data(), o->held.size()};
  if (std::int32_t r = probe_decoded_j2k(&stream, &o->kind, &o->header); r != RET_SUCCESS) return r;
  o->reader = memory_reader(stream);
  return RET_SUCCESS;
}

// Decoding after the probe: the cap's check for the picture (or the area), then the
// whole picture, its pieces, or the area.
std::int32_t decode_probed(Opened* o, const FltLoadOptions* options, kernel::Bitmap* out,
                           const J2kArea* area) {
  const J2kHeader& header = o->header;
  if (header.precision > kMaxPrecision) return RET_NOT_SUPPORTED;
  J2kHeader held = header;
  if (area && area->x1 > area->x0 && area->y1 > area->y0) {
    held.width = area->x1 - area->x0;
    held.height = area->y1 - area->y0;
  }
  if (!fits_cap(held, o->kind)) return RET_NO_MEMORY;
  if (std::int32_t r = read_main_header(o); r != RET_SUCCESS) return r;
  opj_codec_t* codec = o->codec.get();
  opj_stream_t* source = o->source.get();
  opj_image_t* image = o->image.get();
  if (area) return decode_area(codec, source, image, header, options, *area, out);
  if (decodes_in_pieces(*image, o->kind, header)) {
    const std::int32_t result = decode_pieces(codec, source, image, header, options, out);
    if (result != RET_SUCCESS) kernel::free_bitmap(out);
    return result;
  }
  return decode_whole(codec, source, image, header, options, out);
}

}  // namespace

std::int32_t decode_j2k(ByteView stream, StreamKind kind, const FltLoadOptions* options,
                        kernel::Bitmap* out, const J2kArea* area) {
  Opened o;
  o.kind = kind;
  const std::int32_t probed = probe_decoded_j2k(&stream, &o.kind, &o.header);
  if (probed != RET_SUCCESS) return probed;
  o.reader = memory_reader(stream);
  return decode_probed(&o, options, out, area);
}

}  // namespace fileformat::detail

namespace fileformat {

std::int32_t load_j2k_area(const StreamSource& source, const FltLoadOptions* options,
                           const J2kArea& area, kernel::Bitmap* bitmap, bool* ycc_shown) {
  if (!bitmap || detail::decodes_into(options)) return RET_INVALID_PARAMETER;
  detail::Opened o;
  if (std::int32_t r = detail::open_source(source, &o); r != RET_SUCCESS) return r;
  if (ycc_shown) *ycc_shown = o.header.ycc;
  kernel::Bitmap decoded;
  const std::int32_t result = detail::decode_probed(&o, options, &decoded, &area);
  if (result != RET_SUCCESS) {
    kernel::free_bitmap(&decoded);
    return result;
  }
  kernel::free_bitmap(bitmap);
  *bitmap = decoded;  // the record now owns the data
  return RET_SUCCESS;
}

std::int32_t load_j2k_stream(const StreamSource& source, const FltLoadOptions* options,
                             kernel::Bitmap* bitmap, bool* ycc_shown) {
  if (!bitmap) return RET_INVALID_PARAMETER;
  detail::Opened o;
  if (std::int32_t r = detail::open_source(source, &o); r != RET_SUCCESS) return r;
  if (ycc_shown) *ycc_shown = o.header.ycc;
  if (detail::decodes_into(options)) {
    // A copy that owns nothing, as load_from_memory decodes into the caller's pixels.
    kernel::Bitmap target = *bitmap;
    target.flags &= ~kernel::kBitmapDataAllocated;
    target.palette = nullptr;
    target.palette_count = 0;
    return detail::decode_probed(&o, options, &target, nullptr);
  }
  kernel::Bitmap decoded;
  const std::int32_t result = detail::decode_probed(&o, options, &decoded, nullptr);
  if (result != RET_SUCCESS) {
    kernel::free_bitmap(&decoded);
    return result;
  }
  kernel::free_bitmap(bitmap);
  *bitmap = decoded;  // the record now owns the data
  return RET_SUCCESS;
}

// ----- Areas at a resolution level, for raw samples ---------------------------------------
//
// The raw sample reader asks for a window at a reduction: OpenJPEG then decodes only the
// code blocks that reach the window at that level, and the planes go to the caller as
// OpenJPEG holds them (32-bit samples, the stored values).

std::int32_t decode_j2k_area(const StreamSource& source, std::uint32_t x0, std::uint32_t y0,
                             std::uint32_t x1, std::uint32_t y1, std::uint32_t reduce, void* self,
                             J2kPlaneSink sink) {
  detail::Opened o;
  if (std::int32_t r = detail::open_source(source, &o); r != RET_SUCCESS) return r;
  if (x0 >= x1 || y0 >= y1) return RET_FILE_FORMAT;
  detail::J2kHeader area = o.header;
  area.width = x1 - x0;
  area.height = y1 - y0;
  if (!detail::fits_cap(area, o.kind)) return RET_NO_MEMORY;
  if (std::int32_t r = detail::read_main_header(&o); r != RET_SUCCESS) return r;
  opj_image_t& image = *o.image;
  const std::uint64_t width = image.x1 - image.x0, height = image.y1 - image.y0;
  if (x1 > width || y1 > height) return RET_FILE_FORMAT;
  for (std::uint32_t c = 0; c < image.numcomps; ++c)
    if (image.comps[c].prec == 0 || image.comps[c].prec > 32) return RET_NOT_SUPPORTED;
  const std::uint32_t level = std::min(reduce, detail::decompositions(o.codec.get()));
  if (!opj_set_decoded_resolution_factor(o.codec.get(), level) ||
      !opj_set_decode_area(o.codec.get(), &image, static_cast<OPJ_INT32>(image.x0 + x0),
                           static_cast<OPJ_INT32>(image.y0 + y0),
                           static_cast<OPJ_INT32>(image.x0 + x1),
                           static_cast<OPJ_INT32>(image.y0 + y1)) ||
      !opj_decode(o.codec.get(), o.source.get(), &image) ||
      !opj_end_decompress(o.codec.get(), o.source.get()))
    return RET_FILE_FORMAT;
  for (std::uint32_t c = 0; c < image.numcomps; ++c) {
    const opj_image_comp_t& comp = image.comps[c];
    if (!comp.data || comp.w == 0 || comp.h == 0) return RET_FILE_FORMAT;
    // The component's corner on its level's grid, from the picture's own corner there.
    const std::uint32_t shift = comp.factor;
    const std::uint32_t origin_x = (image.x0 + (1u << shift) - 1) >> shift;
    const std::uint32_t origin_y = (image.y0 + (1u << shift) - 1) >> shift;
    const J2kPlane plane{comp.data, comp.w,         comp.h, comp.x0 - origin_x, comp.y0 - origin_y,
                         comp.prec, comp.sgnd != 0, level,  image.numcomps};
    if (std::int32_t r = sink(self, c, plane); r != RET_SUCCESS) return r;
  }
  return RET_SUCCESS;
}

}  // namespace fileformat
