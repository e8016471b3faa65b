// The filter entry points (fltInfo, fltLoad, fltSave) and the composition exports
// (GetActual_Width_Height, Kv_NitfDrawObjects, Kv_NtfRenderBitmap, Kv_NtfRenderRegion,
// Kv_NtfShowSegment).
//
// Each filter call makes a document of its own, parses the named file, composes every
// image and graphic segment onto one canvas and releases everything before it returns.
// The public bitmap and drawing-context types are the kernel's records under their C
// names; this is the one place that converts between the two.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "core/utility_canvas.h"
#include "graphics_text/handlgfx.h"
#include "graphics_text/handlsym20.h"
#include "image/data/imgmodes.h"
#include "image/handlimg.h"
#include "kernel.h"

// KvBitmap is kernel::Bitmap seen from C: the two must agree byte for byte.
static_assert(sizeof(KvBitmap) == sizeof(kernel::Bitmap));
static_assert(offsetof(KvBitmap, width) == offsetof(kernel::Bitmap, width));
static_assert(offsetof(KvBitmap, height) == offsetof(kernel::Bitmap, height));
static_assert(offsetof(KvBitmap, bits_per_pixel) == offsetof(kernel::Bitmap, bits_per_pixel));
static_assert(offsetof(KvBitmap, bytes_per_line) == offsetof(kernel::Bitmap, bytes_per_line));
static_assert(offsetof(KvBitmap, colour_order) == offsetof(kernel::Bitmap, colour_order));
static_assert(offsetof(KvBitmap, palette_count) == offsetof(kernel::Bitmap, palette_count));
static_assert(offsetof(KvBitmap, flags) == offsetof(kernel::Bitmap, flags));
static_assert(offsetof(KvBitmap, view_code) == offsetof(kernel::Bitmap, view_code));
static_assert(offsetof(KvBitmap, memory_kind) == offsetof(kernel::Bitmap, memory_kind));
static_assert(offsetof(KvBitmap, row_access) == offsetof(kernel::Bitmap, row_access));
static_assert(offsetof(KvBitmap, data_size) == offsetof(kernel::Bitmap, data_size));
static_assert(offsetof(KvBitmap, palette) == offsetof(kernel::Bitmap, palette));
static_assert(offsetof(KvBitmap, data) == offsetof(kernel::Bitmap, data));
static_assert(offsetof(KvBitmap, reserved) == offsetof(kernel::Bitmap, reserved));
static_assert(KV_BITMAP_RECORD_SIZE == kernel::kBitmapRecordSize);
static_assert(KV_BITMAP_DATA_ALLOCATED == kernel::kBitmapDataAllocated);

namespace {

using nitf::SegmentKind;

// Every load ORs these into the caller's flag word before reading the option bits.
constexpr std::uint32_t kOptionsOnEntry = 0x80000001u;
constexpr int kCanvasMemoryKind = 1;
constexpr int kInfoBitsPerPixel = 24;

kernel::Bitmap* kernel_bitmap(KvBitmap* bitmap) {
  return reinterpret_cast<kernel::Bitmap*>(bitmap);
}

kernel::DrawingContext* kernel_context(KvDrawingContext* context) {
  return reinterpret_cast<kernel::DrawingContext*>(context);
}

void apply_options(FltLoadOptions* options, NitfDocument* d) {
  if (!options) return;
  options->flags |= kOptionsOnEntry;
  d->fixed_canvas = (options->flags & KV_LOAD_FIXED_CANVAS) != 0;
  d->enhancement = (options->flags & KV_LOAD_ENHANCE) != 0;
  d->extended = (options->flags & KV_LOAD_EXTENDED) != 0;
}

// A missing file is told apart from one that cannot be read, as the document API does.
int parse_named(NitfDocument* d, const wchar_t* name) {
  if (!kernel::file_exists(name)) return RET_FILE_NOT_FOUND;
  return nitf::parse_file(d, name);
}

bool hidden(const NitfDocument& d, const nitf::DrawEntry& e) {
  const std::uint64_t key = std::uint64_t{static_cast<std::uint32_t>(e.kind)} << 32 | e.index;
  return std::find(d.hidden.begin(), d.hidden.end(), key) != d.hidden.end();
}

// Draws every entry of the draw list in order, but those hidden; the first failure ends the
// drawing. `use` applies to the first entry; later ones find the canvas drawn on. A fill still
// pending is made before a graphic, by the first image's drawing unless it reads the
// image straight into the canvas, or at the end when there is nothing to draw.
// `origin_row` and `origin_column` are the canvas position drawn at the context's (0, 0):
// a region of the canvas is the same drawing moved.
int draw_objects(const FltLoadRequest* load, kernel::DrawingContext* dc, NitfDocument* d,
                 nitf::CanvasUse use = {}, std::int64_t origin_row = 0,
                 std::int64_t origin_column = 0) {
  nitf::DrawList list;
  if (int r = nitf::build_draw_list(*d, &list); r != RET_SUCCESS) return r;
  int result = RET_SUCCESS;
  for (std::size_t i = 0; i < list.entries.size() && result == RET_SUCCESS; ++i) {
    const nitf::DrawEntry& e = list.entries[i];
    if (hidden(*d, e)) continue;
    std::int64_t row = 0, column = 0;
    nitf::attachment_offset(*d, e, &row, &column);
    row -= origin_row;
    column -= origin_column;
    const bool image = e.kind == static_cast<std::int32_t>(SegmentKind::kImage);
    if (use.fill_pending && !image) {
      kernel::fill_bitmap(dc->bitmap, use.background);
      use.fill_pending = false;
    }
    if (image) {
      result = nitf::draw_image_segment(load, dc, d, e.index, row, column, use);
    } else if (e.kind == static_cast<std::int32_t>(SegmentKind::kLabel)) {
      result = nitf::draw_label_segment(dc, d, e.index, row, column);
    } else {
      result = nitf::draw_graphic_segment(dc, d, e.index, row, column);
    }
    use.blank = false;
    use.fill_pending = false;
  }
  if (use.fill_pending && result == RET_SUCCESS) kernel::fill_bitmap(dc->bitmap, use.background);
  return result;
}

// Whether a fill with `colour` writes only zero bytes into a canvas of this depth (as
// create_bitmap makes it: the palette of an 8-bit canvas is the grey ramp).
bool fills_with_zeros(int bits_per_pixel, std::uint32_t colour) {
  kernel::Bitmap probe{};
  if (kernel::create_bitmap(&probe, kernel::kBitmapRecordSize, kCanvasMemoryKind, 1, 1,
                            bits_per_pixel, kernel::kColourRgb, nullptr, kernel::kViewBottomUp,
                            nullptr, 0) != RET_SUCCESS)
    return false;
  kernel::fill_bitmap(&probe, colour);
  bool zeros = true;
  for (std::uint64_t i = 0; i < probe.data_size; ++i) zeros = zeros && probe.data[i] == 0;
  kernel::free_bitmap(&probe);
  return zeros;
}

// The uncompressed images to be drawn, checked against their data in draw order, so
// that the failure their reading would end the drawing with is found before the canvas
// exists. (A segment drawn earlier that would fail otherwise is not looked at: the
// result is then this failure instead of that one.)
int check_images(NitfDocument* d) {
  nitf::DrawList list;
  if (int r = nitf::build_draw_list(*d, &list); r != RET_SUCCESS) return r;
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    const nitf::DrawEntry& e = list.entries[i];
    if (e.kind == static_cast<std::int32_t>(SegmentKind::kImage) && !hidden(*d, e))
      if (int r = nitf::check_image_data(d, e.index); r != RET_SUCCESS) return r;
  }
  return RET_SUCCESS;
}

// Makes `canvas` the size of the composition, filled with the background, and draws
// the document onto it. On failure the canvas holds nothing. The canvas comes zeroed
// from the allocator, so a background of zero bytes is not written again, and an image
// that covers it may be read straight into it (nitf::CanvasUse): a failed drawing frees
// the canvas here. Any other background is filled once it is known that the first
// drawing does not cover the whole canvas anyway.
int compose(const FltLoadRequest* load, NitfDocument* d, int bits_per_pixel,
            kernel::Bitmap* canvas) {
  std::uint32_t width = 0, height = 0;
  if (int r = nitf::canvas_size(d, &width, &height); r != RET_SUCCESS) return r;
  if (int r = check_images(d); r != RET_SUCCESS) return r;
  int r = kernel::create_bitmap(canvas, kernel::kBitmapRecordSize, kCanvasMemoryKind,
                                static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                                bits_per_pixel, kernel::kColourRgb, nullptr, kernel::kViewBottomUp,
                                nullptr, 0);
  if (r != RET_SUCCESS) return r;
  kernel::DrawingContext* dc = kernel::device_context_for_bitmap(canvas);
  if (!dc) {
    kernel::free_bitmap(canvas);
    return RET_NO_MEMORY;
  }
  const bool zeros = fills_with_zeros(bits_per_pixel, d->background);
  r = draw_objects(load, dc, d, nitf::CanvasUse{true, true, !zeros, d->background});
  kernel::delete_device_context(dc);
  if (r != RET_SUCCESS) kernel::free_bitmap(canvas);
  return r;
}

// Composes the window region (left column, top row, width, height) of the canvas into a
// width x height canvas: the drawing moved to the window's corner and, at another size,
// scaled (images stretched by nearest pixel, drawings painted at the new scale). At the
// window's own size the pixels are those of the whole canvas, cut.
int compose_region(NitfDocument* d, const std::int32_t* region, std::int32_t width,
                   std::int32_t height, kernel::Bitmap* canvas) {
  std::uint32_t canvas_width = 0, canvas_height = 0;
  if (int r = nitf::canvas_size(d, &canvas_width, &canvas_height); r != RET_SUCCESS) return r;
  const std::int64_t left = region[0], top = region[1], w = region[2], h = region[3];
  if (left < 0 || top < 0 || w <= 0 || h <= 0 || left + w > canvas_width ||
      top + h > canvas_height || width <= 0 || height <= 0)
    return RET_INVALID_PARAMETER;
  if (int r = check_images(d); r != RET_SUCCESS) return r;
  int r = kernel::create_bitmap(canvas, kernel::kBitmapRecordSize, kCanvasMemoryKind, width, height,
                                kInfoBitsPerPixel, kernel::kColourRgb, nullptr,
                                kernel::kViewBottomUp, nullptr, 0);
  if (r != RET_SUCCESS) return r;
  kernel::DrawingContext* dc = kernel::device_context_for_bitmap(canvas);
  if (!dc) {
    kernel::free_bitmap(canvas);
    return RET_NO_MEMORY;
  }
  dc->scale_x = static_cast<double>(width) / static_cast<double>(w);
  dc->scale_y = static_cast<double>(height) / static_cast<double>(h);
  // Drawings are cut where the whole canvas (and its painting tiles) would cut them, not
  // at the window's edges; the painting takes no more than one of its tiles beyond.
  auto beyond = [](std::int64_t pixels, double scale) {
    return static_cast<std::int32_t>(
        std::min(4096.0, std::floor(static_cast<double>(pixels) * scale)));
  };
  dc->corner_x = static_cast<std::int64_t>(std::floor(static_cast<double>(left) * dc->scale_x));
  dc->corner_y = static_cast<std::int64_t>(std::floor(static_cast<double>(top) * dc->scale_y));
  dc->beyond = kernel::Rect{beyond(left, dc->scale_x), beyond(top, dc->scale_y),
                            beyond(canvas_width - left - w, dc->scale_x),
                            beyond(canvas_height - top - h, dc->scale_y)};
  const bool zeros = fills_with_zeros(kInfoBitsPerPixel, d->background);
  // Nothing is read into the canvas in place: no image covers exactly a window.
  r = draw_objects(nullptr, dc, d, nitf::CanvasUse{false, true, !zeros, d->background}, top, left);
  kernel::delete_device_context(dc);
  if (r != RET_SUCCESS) kernel::free_bitmap(canvas);
  return r;
}

// A canvas record on the stack, released on every path.
struct Canvas {
  kernel::Bitmap bitmap;
  Canvas() = default;
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  ~Canvas() { kernel::free_bitmap(&bitmap); }
};

// Hands the canvas to the row callback top row first; a callback answer other than 1
// stops the delivery and becomes the result. Each row is handed in place: the canvas is
// this load's own and is released once the rows are delivered, so there is nothing a
// callback could disturb by writing into its row.
int deliver_rows(const FltLoadRequest& q, kernel::Bitmap* canvas) {
  const std::int32_t height = canvas->height;
  kernel::begin_row_access(canvas);
  int result = RET_SUCCESS;
  for (std::int32_t i = 0; i < height && result == RET_SUCCESS; ++i) {
    std::uint8_t* row = kernel::storage_row(*canvas, height - 1 - i);
    if (!row) {
      result = RET_INVALID_BITMAP;
      break;
    }
    const auto flags = static_cast<std::int32_t>(KV_ROW_ALWAYS | (i == 0 ? KV_ROW_FIRST : 0) |
                                                 (i == height - 1 ? KV_ROW_LAST : 0));
    result = q.row_callback(q.callback_context, q.target, row, flags, i, 1, q.user_data);
  }
  kernel::end_row_access(canvas);
  return result;
}

void fill_file_info(FltFileInfo* info, std::uint32_t width, std::uint32_t height) {
  const std::uint64_t row = (std::uint64_t{width} * kInfoBitsPerPixel + 31) / 32 * 4;
  const std::uint64_t size = row * height;
  info->format = KV_NITF_FORMAT_ID;
  info->width = width;
  info->height = height;
  info->bits_per_pixel = kInfoBitsPerPixel;
  info->image_size_low = static_cast<std::uint32_t>(size);
  info->image_size_high = static_cast<std::uint32_t>(size >> 32);
  info->word_1100 = 1;
  info->word_1104 = 1;
}

}  // namespace

KV_API int32_t KV_CALL GetActual_Width_Height(NitfDocument* document, uint32_t* width,
                                              uint32_t* height) {
  if (!document) return RET_INVALID_DOCUMENT;
  if (!width || !height) return RET_BAD_ARGUMENT;
  return nitf::canvas_size(document, width, height);
}

KV_API int32_t KV_CALL Kv_NitfDrawObjects(FltLoadRequest* request, KvDrawingContext* context,
                                          KvBitmap*, NitfDocument* document) {
  if (!document) return RET_INVALID_DOCUMENT;
  if (!context) return RET_INVALID_PARAMETER;
  return draw_objects(request, kernel_context(context), document);
}

KV_API int32_t KV_CALL Kv_NtfRenderBitmap(KvBitmap* bitmap, NitfDocument* document) {
  if (!bitmap) return RET_INVALID_PARAMETER;
  if (!document) return RET_INVALID_DOCUMENT;
  kernel::Bitmap* canvas = kernel_bitmap(bitmap);
  if (canvas->flags & kernel::kBitmapDataAllocated) kernel::free_bitmap(canvas);
  return compose(nullptr, document, kInfoBitsPerPixel, canvas);
}

KV_API int32_t KV_CALL Kv_NtfRenderRegion(KvBitmap* bitmap, NitfDocument* document,
                                          const int32_t* region, int32_t width, int32_t height) {
  if (!bitmap || !region) return RET_INVALID_PARAMETER;
  if (!document) return RET_INVALID_DOCUMENT;
  kernel::Bitmap* canvas = kernel_bitmap(bitmap);
  if (canvas->flags & kernel::kBitmapDataAllocated) kernel::free_bitmap(canvas);
  return compose_region(document, region, width, height, canvas);
}

KV_API int32_t KV_CALL Kv_NtfShowSegment(NitfDocument* document, int32_t kind, int32_t index,
                                         int32_t shown) {
  if (!document) return RET_INVALID_DOCUMENT;
  SegmentKind segment;
  std::size_t count = 0;
  if (kind == KV_FIELDS_IMAGE) {
    segment = SegmentKind::kImage, count = document->images.size();
  } else if (kind == KV_FIELDS_GRAPHIC || kind == KV_FIELDS_SYMBOL) {
    segment = SegmentKind::kGraphic, count = document->graphics.size();
  } else if (kind == KV_FIELDS_LABEL) {
    segment = SegmentKind::kLabel, count = document->labels.size();
  } else {
    return RET_INVALID_PARAMETER;
  }
  if (index < 0 || static_cast<std::size_t>(index) >= count) return RET_INVALID_PARAMETER;
  const std::uint64_t key =
      std::uint64_t{static_cast<std::uint32_t>(segment)} << 32 | static_cast<std::uint32_t>(index);
  std::vector<std::uint64_t>& list = document->hidden;
  const auto at = std::find(list.begin(), list.end(), key);
  if (shown && at != list.end()) list.erase(at);
  if (!shown && at == list.end()) list.push_back(key);
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL fltInfo(FltInfoRequest* request) {
  if (!request || !request->file_info) return RET_INVALID_PARAMETER;
  NitfDocument document;
  kernel::seek_file(request->file_handle, 0, kernel::kSeekSet);
  apply_options(request->load_options, &document);
  if (int r = parse_named(&document, request->file_name); r < RET_SUCCESS) return r;
  std::uint32_t width = 0, height = 0;
  int r = nitf::canvas_size(&document, &width, &height);
  if (r == RET_SUCCESS) fill_file_info(request->file_info, width, height);
  return r;
}

KV_API int32_t KV_CALL fltLoad(FltLoadRequest* request) {
  if (!request) return RET_INVALID_PARAMETER;
  NitfDocument document;
  if (!request->load_from_memory || !request->set_raw_callback || !request->required)
    return RET_FILE_FORMAT;
  if (!request->target || !request->row_callback) return RET_INVALID_PARAMETER;
  apply_options(request->load_options, &document);
  if (int r = parse_named(&document, request->file_name); r < RET_SUCCESS) return r;
  Canvas canvas;
  if (int r = compose(request, &document, request->target->bits_per_pixel, &canvas.bitmap);
      r != RET_SUCCESS)
    return r;
  return deliver_rows(*request, &canvas.bitmap);
}

KV_API int32_t KV_CALL fltSave(void*) {
  NitfDocument document;  // made and released, as every filter call does; nothing is written
  return RET_NOT_SUPPORTED;
}
