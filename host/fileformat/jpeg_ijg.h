// The decoding steps for GDCM's builds of the IJG library, which decode what
// libjpeg-turbo's 8-bit build cannot: DCT streams of 12-bit samples and lossless streams
// of 2 to 16 bits. Each build has its own sample type and its own names (gdcmjpeg12_*,
// gdcmjpeg16_*) behind the same jpeglib.h API, so this file is included by one unit per
// build (jpeg12_decode.cpp, jpeg16_decode.cpp) right after that build's jpeglib.h and
// jerror.h; everything here has internal linkage in each.
//
// Errors work as jpeg_errors.h says: error_exit longjmps to the one frame that called
// setjmp, every frame between holds only plain C data, and a stream whose data end
// while rows are still owed is refused. This library has no memory source and no memory
// limit of its own, so the working set the frame implies is checked against the
// kernel's allocation cap before it decodes.
//
// Pixels. Grey samples keep their values, in the smallest kernel layout that holds the
// precision: 8 bits up to 8, the packed 12-bit layout up to 12, 16 bits beyond. Colour
// components are each scaled to 8 bits (scale_to_8, as for JPEG 2000). Three DCT
// components are read as jpeg_decode.cpp reads them (the stream's markers, KV_LOAD_RGB);
// lossless components are always taken as stored: a colour transform would undo what
// lossless coding keeps, and the 16-bit build converts colours for 16-bit samples only.
#include <csetjmp>
#include <cstdint>
#include <cstring>

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
  jpeg_source_mgr source{};
  kernel::Buffer<JSAMPLE> row;  // one row of the output components
  kernel::Bitmap* out = nullptr;
  const FltLoadOptions* options = nullptr;
  ByteView stream;
};

// The stream in memory. Past its end the source gives an end-of-image marker, with the
// warning that refuses a stream cut short.
void init_source(j_decompress_ptr) {}
void term_source(j_decompress_ptr) {}

boolean fill_input_buffer(j_decompress_ptr cinfo) {
  static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
  WARNMS(cinfo, JWRN_JPEG_EOF);
  cinfo->src->next_input_byte = kEnd;
  cinfo->src->bytes_in_buffer = 2;
  return TRUE;
}

void skip_input_data(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (static_cast<unsigned long>(count) > src->bytes_in_buffer) {
    fill_input_buffer(cinfo);
    return;
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void set_source(Session* s) {
  s->source.init_source = init_source;
  s->source.fill_input_buffer = fill_input_buffer;
  s->source.skip_input_data = skip_input_data;
  s->source.resync_to_restart = jpeg_resync_to_restart;
  s->source.term_source = term_source;
  s->source.next_input_byte = s->stream.data;
  s->source.bytes_in_buffer = s->stream.size;
  s->cinfo.src = &s->source;
}

// A stream of several scans keeps every sample of the picture until its last scan (as
// coefficients or differences, at most 4 bytes each); one scan keeps a few MCU rows.
bool fits_cap(jpeg_decompress_struct& cinfo) {
  const std::uint64_t width = std::uint64_t{cinfo.image_width} + 64;
  const std::uint64_t rows =
      jpeg_has_multiple_scans(&cinfo) ? std::uint64_t{cinfo.image_height} + 64 : 128;
  const std::uint64_t bytes = width * rows * static_cast<std::uint64_t>(cinfo.num_components) * 4;
  return bytes <= kernel::allocation_cap();
}

// Sets the colour spaces: the library's conversion for three DCT components (read as R,
// G, B for KV_LOAD_RGB unless the stream states YCbCr), components as stored otherwise.
void choose_colour_spaces(jpeg_decompress_struct& cinfo, const OutputPlan& plan,
                          const FltLoadOptions* options, const JpegHeader& header) {
  const bool bands = options && (options->flags & KV_LOAD_BANDS);
  const bool lossless = cinfo.process == JPROC_LOSSLESS;
  if (!bands && !lossless && !plan.grey && cinfo.num_components == 3) {
    if (options && (options->flags & KV_LOAD_RGB) && !jpeg_states_ycc(header))
      cinfo.jpeg_color_space = JCS_RGB;
    cinfo.out_color_space = JCS_RGB;
    return;
  }
  cinfo.jpeg_color_space = JCS_UNKNOWN;
  cinfo.out_color_space = JCS_UNKNOWN;
}

// One row of samples, `components` per pixel. Samples beyond the precision (only a
// damaged lossless stream makes them) are cut to it.
struct RawRow {
  const JSAMPLE* samples;
  std::uint32_t components, width, precision;
  std::uint32_t at(std::uint32_t x, std::uint32_t c) const {
    const auto v = static_cast<std::uint32_t>(GETJSAMPLE(samples[std::size_t{x} * components + c]));
    const std::uint32_t max = (std::uint32_t{1} << precision) - 1;
    return v < max ? v : max;
  }
};

void put_colour(const RawRow& raw, const OutputPlan& plan, std::uint8_t* row) {
  for (std::uint32_t x = 0; x < raw.width; ++x, row += 3) {
    row[0] = scale_to_8(raw.at(x, plan.blue), raw.precision);
    row[1] = scale_to_8(raw.at(x, plan.green), raw.precision);
    row[2] = scale_to_8(raw.at(x, plan.red), raw.precision);
  }
}

void put_grey(const RawRow& raw, std::uint32_t component, int bits, std::uint8_t* row) {
  for (std::uint32_t x = 0; x < raw.width; ++x) {
    const std::uint32_t v = raw.at(x, component);
    if (bits == 8) {
      row[x] = static_cast<std::uint8_t>(v);
    } else if (bits == 12) {
      kernel::put_sample12(row, static_cast<std::int32_t>(x), static_cast<std::uint16_t>(v));
    } else {
      const auto wide = static_cast<std::uint16_t>(v);
      std::memcpy(row + 2 * std::size_t{x}, &wide, 2);
    }
  }
}

std::int32_t read_rows(Session* s, const OutputPlan& plan) {
  jpeg_decompress_struct& cinfo = s->cinfo;
  if (!s->row.allocate(std::size_t{cinfo.output_width} *
                       static_cast<std::size_t>(cinfo.output_components)))
    return RET_NO_MEMORY;
  const RawRow raw{s->row.data(), static_cast<std::uint32_t>(cinfo.output_components),
                   cinfo.output_width, static_cast<std::uint32_t>(cinfo.data_precision)};
  while (cinfo.output_scanline < cinfo.output_height) {
    const auto y = static_cast<std::int32_t>(cinfo.output_scanline);
    std::uint8_t* target = kernel::pixel_row(*s->out, kernel::top_down_row(*s->out, y));
    if (!target) return RET_FILE_FORMAT;
    JSAMPROW line = s->row.data();
    if (jpeg_read_scanlines(&cinfo, &line, 1) != 1) return RET_FILE_FORMAT;
    if (plan.grey)
      put_grey(raw, plan.red, s->out->bits_per_pixel, target);
    else
      put_colour(raw, plan, target);
  }
  s->error.rows_complete = true;
  jpeg_finish_decompress(&cinfo);
  return RET_SUCCESS;
}

// Once the header is read: the working set against the cap, the components shown, the
// colour spaces and the output bitmap.
std::int32_t plan_picture(Session* s, const JpegHeader& header, OutputPlan* plan) {
  jpeg_decompress_struct& cinfo = s->cinfo;
  const auto precision = static_cast<std::uint32_t>(cinfo.data_precision);
  if (precision < 2 || precision > 16) return RET_NOT_SUPPORTED;
  if (!fits_cap(cinfo)) return RET_NO_MEMORY;
  const std::int32_t planned =
      plan_output(static_cast<std::uint32_t>(cinfo.num_components), s->options, plan);
  if (planned != RET_SUCCESS) return planned;
  choose_colour_spaces(cinfo, *plan, s->options, header);
  return prepare_output(s->out, s->options, cinfo.image_width, cinfo.image_height,
                        plan->grey ? jpeg_grey_bits(precision) : 24,
                        plan->grey ? kernel::kColourGrey : kernel::kColourRgb);
}

// The decode proper, called under the error guard: holds nothing that needs a
// destructor, since a libjpeg error leaves it by longjmp.
[[gnu::noinline]] std::int32_t decode_steps(Session* s, const JpegHeader& header) {
  jpeg_create_decompress(&s->cinfo);
  set_source(s);
  if (jpeg_read_header(&s->cinfo, TRUE) != JPEG_HEADER_OK) return RET_FILE_FORMAT;
  OutputPlan plan;
  if (const std::int32_t planned = plan_picture(s, header, &plan); planned != RET_SUCCESS)
    return planned;
  jpeg_start_decompress(&s->cinfo);
  return read_rows(s, plan);
}

// The only frame that calls setjmp; nothing in it changes between the setjmp and a
// longjmp, so no local needs to be volatile.
std::int32_t run_guarded(Session* s, const JpegHeader& header) {
  s->cinfo.err = install_errors(s->error);
  if (setjmp(s->error.jump)) return s->error.code;
  return decode_steps(s, header);
}

std::int32_t decode_ijg(ByteView stream, const JpegHeader& header, const FltLoadOptions* options,
                        kernel::Bitmap* out) {
  Session session;
  session.out = out;
  session.options = options;
  session.stream = stream;
  const std::int32_t result = run_guarded(&session, header);
  jpeg_destroy_decompress(&session.cinfo);
  if (result != RET_SUCCESS) kernel::free_bitmap(out);
  return result;
}

}  // namespace
}  // namespace fileformat::detail
