// Loading and painting graphic segments.
#include "graphics_text/handlgfx.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "fileformat/cgm_read.h"
#include "graphics_text/handlsym20.h"
#include "vector/drawing.h"
#include "vector/paint.h"

namespace nitf {
namespace {

void debug_line(std::uint32_t index, const char* what, int code) {
  char line[128];
  std::snprintf(line, sizeof line, "graphic segment %u: %s (%d)\n", index, what, code);
  kernel::debug_output(line);
}

// The segment's data bytes, checked against the file before anything is allocated.
int read_data(NitfDocument* d, std::uint32_t index, kernel::Buffer<std::uint8_t>* out) {
  // An appended or replaced drawing is not in the source file until the next save.
  const NitfGraphicSubheader& g = *d->graphics[index];
  if (g.has_cgm) {
    if (!out->allocate(g.cgm.size())) return RET_NO_MEMORY;
    if (!g.cgm.empty()) std::memcpy(out->data(), g.cgm.data(), g.cgm.size());
    return RET_SUCCESS;
  }
  std::uint64_t length = d->header.graphics.data(index);
  if (length == 0) return RET_SUCCESS;
  std::int64_t at = segment_data_offset(*d, SegmentKind::kGraphic, index);
  if (at < 0 || at > d->file_size || length > static_cast<std::uint64_t>(d->file_size - at) ||
      length > 0xFFFFFFFFu)
    return RET_FILE_READ;
  if (!out->allocate(static_cast<std::size_t>(length))) return RET_NO_MEMORY;
  if (kernel::seek_file(d->file, at, kernel::kSeekSet) != at) return RET_FILE_READ;
  if (kernel::read_file(d->file, out->data(), out->size()) != out->size()) return RET_FILE_READ;
  return RET_SUCCESS;
}

int add_object_layer(vector::Drawing* drawing) {
  vector::LayerDescription layer{};
  layer.size = sizeof layer;
  const char name[] = "Object Layer";
  for (std::size_t i = 0; i + 1 < sizeof name; ++i) layer.name[i] = static_cast<char16_t>(name[i]);
  layer.settings[0] = 1;
  std::int32_t created = -1;
  int r = vector::add_layer(drawing, &layer, &created, 4);
  if (r != RET_SUCCESS) return r;
  return vector::set_active_layer(drawing, created);
}

NitfGraphicSubheader* record_of(NitfDocument* d, std::uint32_t index) {
  return index < d->graphics.size() ? d->graphics[index].get() : nullptr;
}

}  // namespace

double ink_margin(const vector::Drawing& drawing) {
  double widest = 1;
  for (std::uint32_t i = 0; i < drawing.objects.count; ++i) {
    const vector::Attributes& a = drawing.objects.begin()[i].attributes;
    widest = std::max({widest, a.line_width, a.edge_visible ? a.edge_width : 0.0});
  }
  return std::min(widest, 4096.0) / 2;
}

int load_graphic(NitfDocument* d, std::uint32_t index) {
  NitfGraphicSubheader* g = record_of(d, index);
  if (!g) return RET_BAD_ARGUMENT;
  vector::Drawing& drawing = g->vector;
  drawing.setting_first = 0x2002;
  if (int r = vector::init(&drawing); r != RET_SUCCESS) return r;
  drawing.setting_second = 0x8000;
  kernel::Buffer<std::uint8_t> data;
  int r = read_data(d, index, &data);
  if (r == RET_SUCCESS) {
    switch (g->sfmt[0]) {
      case 'C':
        r = fileformat::load_vector_from_memory(data.data(), &drawing,
                                                static_cast<std::uint32_t>(data.size()), nullptr);
        break;
      case 'O':
        r = d->header.nitf20 ? symbol20_drawing(*g, data, &drawing) : add_object_layer(&drawing);
        break;
      case 'B':
        // Only a NITF 2.0 symbol has a bitmap's size and depth.
        r = d->header.nitf20 ? symbol20_drawing(*g, data, &drawing) : RET_NOT_SUPPORTED;
        break;
      default:
        r = RET_NOT_SUPPORTED;
        break;  // bitmap symbols have no size here
    }
  }
  if (r != RET_SUCCESS) {
    debug_line(index, "cannot be loaded", r);
    vector::release(&drawing);
  }
  return r;
}

int graphic_extent(NitfDocument* d, std::uint32_t index, std::int64_t row_offset,
                   std::int64_t column_offset, std::int64_t* right, std::int64_t* bottom) {
  *right = *bottom = 0;
  if (int r = load_graphic(d, index); r != RET_SUCCESS) return r;
  const NitfGraphicSubheader& g = *d->graphics[index];
  vector::Point3 lower{}, upper{};
  if (vector::bounds(&g.vector, &lower, &upper) != RET_SUCCESS) return RET_SUCCESS;
  // The extent is one past the last column and row the ink touches: the drawing's upper
  // right corner plus half the widest stroke; y grows upward, rows downward.
  const double limit = 4.0e9, margin = ink_margin(g.vector);
  double r = g.sloc_column + column_offset + std::floor(upper.x + margin) + 1;
  double b = g.sloc_row + row_offset + std::floor(margin - lower.y) + 1;
  if (!(std::fabs(r) < limit && std::fabs(b) < limit)) return RET_FILE_FORMAT;
  *right = static_cast<std::int64_t>(r);
  *bottom = static_cast<std::int64_t>(b);
  return RET_SUCCESS;
}

int draw_graphic_segment(kernel::DrawingContext* dc, NitfDocument* d, std::uint32_t index,
                         std::int64_t row_offset, std::int64_t column_offset) {
  if (int r = load_graphic(d, index); r != RET_SUCCESS) return r;
  const NitfGraphicSubheader& g = *d->graphics[index];
  if (!dc || (g.sfmt[0] != 'C' && !d->header.nitf20)) return RET_SUCCESS;
  return vector::paint_drawing(dc, g.vector, static_cast<double>(g.sloc_row + row_offset),
                               static_cast<double>(g.sloc_column + column_offset), d->background);
}

}  // namespace nitf
