// JPEG decoding through libjpeg-turbo: baseline, extended and progressive DCT streams of
// 8-bit precision, with or without restart markers, Huffman or arithmetic coded. Streams
// of 12-bit samples and lossless streams go to GDCM's IJG builds (jpeg_ijg.h).
//
// libjpeg reports a fatal error by calling error_exit, which must not return; ours
// longjmps back to the one frame that called setjmp (run_guarded). Every frame between
// that one and libjpeg holds only plain C data, so the jump skips no destructor; what
// needs releasing lives in the Session, one frame further up. A stream whose data end
// early is refused too, where libjpeg would only warn and pad the picture with grey: in
// practice any cut, since the Huffman decoder reads ahead into the end-of-image marker.
//
// How three components are read. libjpeg decides by itself from the markers: a JFIF
// marker means YCbCr; else an Adobe marker's transform (0 RGB, otherwise YCbCr); else
// component identifiers 'R','G','B' mean RGB and anything else YCbCr. NITF streams
// rarely carry either marker, so for an image whose bands are R, G, B (KV_LOAD_RGB) we
// override that guess to RGB, unless the stream itself states YCbCr (JFIF, or Adobe
// transform 1). With KV_LOAD_BANDS, or more than three components, the components are
// taken as stored, without any colour transform.
#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include "decoders.h"
#include "fileformat.h"
#include "jpeg_errors.h"
#include "kernel/memory.h"

namespace fileformat::detail {
namespace {

// Everything the decode needs released, whichever way it ends.
struct Session {
  jpeg_decompress_struct cinfo{};
  ErrorManager error{};
  kernel::Buffer<std::uint8_t> row;  // one row of raw components
  kernel::Bitmap* out = nullptr;
  const FltLoadOptions* options = nullptr;
  ByteView stream;
  unsigned scale_denom = 1;  // libjpeg's DCT scaling: 1, 2, 4 or 8
};

// Chooses libjpeg's colour spaces for the plan; true when rows come out as the bitmap
// stores them (grey, or blue-green-red), false when raw components must be picked.
bool choose_colour_spaces(jpeg_decompress_struct& cinfo, const OutputPlan& plan,
                          const FltLoadOptions* options, const JpegHeader& header) {
  const bool bands = options && (options->flags & KV_LOAD_BANDS);
  if (!bands && plan.grey && cinfo.num_components == 1) {
    cinfo.out_color_space = JCS_GRAYSCALE;
    return true;
  }
  if (!bands && cinfo.num_components == 3) {
    if (options && (options->flags & KV_LOAD_RGB) && !jpeg_states_ycc(header))
      cinfo.jpeg_color_space = JCS_RGB;
    cinfo.out_color_space = JCS_EXT_BGR;
    return true;
  }
  cinfo.jpeg_color_space = JCS_UNKNOWN;
  cinfo.out_color_space = JCS_UNKNOWN;
  return false;
}

void pick_components(const std::uint8_t* raw, std::uint32_t components, const OutputPlan& plan,
                     std::uint8_t* row, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x, raw += components) {
    if (plan.grey) {
      row[x] = raw[plan.red];
      continue;
    }
    row[3 * x] = raw[plan.blue];
    row[3 * x + 1] = raw[plan.green];
    row[3 * x + 2] = raw[plan.red];
  }
}

std::int32_t read_rows(Session* s, const OutputPlan& plan, bool direct) {
  jpeg_decompress_struct& cinfo = s->cinfo;
  const std::uint32_t components = static_cast<std::uint32_t>(cinfo.output_components);
  if (!direct && !s->row.allocate(std::size_t{cinfo.output_width} * components))
    return RET_NO_MEMORY;
  while (cinfo.output_scanline < cinfo.output_height) {
    const auto y = static_cast<std::int32_t>(cinfo.output_scanline);
    std::uint8_t* target = kernel::pixel_row(*s->out, kernel::top_down_row(*s->out, y));
    if (!target) return RET_FILE_FORMAT;
    JSAMPROW line = direct ? target : s->row.data();
    if (jpeg_read_scanlines(&cinfo, &line, 1) != 1) return RET_FILE_FORMAT;
    if (!direct) pick_components(s->row.data(), components, plan, target, cinfo.output_width);
  }
  s->error.rows_complete = true;
  jpeg_finish_decompress(&cinfo);
  return RET_SUCCESS;
}

// The decode proper, called under the error guard: holds nothing that needs a
// destructor, since a libjpeg error leaves it by longjmp.
[[gnu::noinline]] std::int32_t decode_steps(Session* s, const JpegHeader& header) {
  jpeg_decompress_struct& cinfo = s->cinfo;
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = static_cast<long>(kernel::allocation_cap() / 2);
  jpeg_mem_src(&cinfo, s->stream.data, static_cast<unsigned long>(s->stream.size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return RET_FILE_FORMAT;
  OutputPlan plan;
  const std::int32_t planned =
      plan_output(static_cast<std::uint32_t>(cinfo.num_components), s->options, &plan);
  if (planned != RET_SUCCESS) return planned;
  const bool direct = choose_colour_spaces(cinfo, plan, s->options, header);
  cinfo.scale_num = 1;
  cinfo.scale_denom = s->scale_denom;
  jpeg_calc_output_dimensions(&cinfo);
  const std::int32_t created =
      prepare_output(s->out, s->options, cinfo.output_width, cinfo.output_height,
                     plan.grey ? 8 : 24, plan.grey ? kernel::kColourGrey : kernel::kColourRgb);
  if (created != RET_SUCCESS) return created;
  jpeg_start_decompress(&cinfo);
  return read_rows(s, plan, direct);
}

// The only frame that calls setjmp; nothing in it changes between the setjmp and a
// longjmp, so no local needs to be volatile.
std::int32_t run_guarded(Session* s, const JpegHeader& header) {
  s->cinfo.err = install_errors(s->error);
  if (setjmp(s->error.jump)) return s->error.code;
  return decode_steps(s, header);
}

bool libjpeg_decodes(const JpegHeader& header) {
  switch (jpeg_format(header)) {
    case kFormatJpeg12Bit:
    case kFormatJpegLossless:
    case kFormatJpegHierarchical:
      return false;
    default:
      return true;
  }
}

// What this libjpeg, of 8-bit samples only, leaves: 12-bit and lossless streams go to the
// IJG builds for them; other depths and hierarchical streams no library here decodes.
std::int32_t decode_elsewhere(ByteView stream, const JpegHeader& header,
                              const FltLoadOptions* options, kernel::Bitmap* out) {
  const std::int32_t format = jpeg_format(header);
  const bool lossless = format == kFormatJpegLossless;
  if (!lossless && (format != kFormatJpeg12Bit || header.precision != 12)) return RET_NOT_SUPPORTED;
  if (!jpeg_scans_distinct(stream)) return RET_FILE_FORMAT;
  return lossless ? decode_jpeg16(stream, header, options, out)
                  : decode_jpeg12(stream, header, options, out);
}

}  // namespace

std::int32_t decode_jpeg(ByteView stream, const FltLoadOptions* options, kernel::Bitmap* out,
                         unsigned scale_denom) {
  JpegHeader header;
  const std::int32_t probed = probe_jpeg(stream, &header);
  if (probed != RET_SUCCESS) return probed;
  if (!libjpeg_decodes(header))
    return scale_denom == 1 ? decode_elsewhere(stream, header, options, out) : RET_NOT_SUPPORTED;
  Session session;
  session.out = out;
  session.options = options;
  session.stream = stream;
  session.scale_denom = scale_denom;
  const std::int32_t result = run_guarded(&session, header);
  jpeg_destroy_decompress(&session.cinfo);
  if (result != RET_SUCCESS) kernel::free_bitmap(out);
  return result;
}

}  // namespace fileformat::detail
