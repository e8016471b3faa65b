// NITF 2.0 bitmap and object symbols and labels, built as drawings.
#include "graphics_text/handlsym20.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "vector/drawing.h"
#include "vector/paint.h"

namespace nitf {
namespace {

// SCOLOR of an object symbol; black for anything else.
std::uint32_t symbol_colour(char code) {
  switch (code) {
    case 'W':
      return 0xFFFFFF;
    case 'R':
      return 0x0000FF;
    case 'O':
      return 0x00A5FF;
    case 'Y':
      return 0x00FFFF;
    case 'G':
      return 0x00FF00;
    case 'B':
      return 0xFF0000;
    case 'C':
      return 0xFFFF00;
    case 'M':
      return 0xFF00FF;
    default:
      return 0x000000;
  }
}

int add(vector::Drawing* d, vector::ObjectKind kind, vector::ObjectDescription& o,
        const vector::Vertex* points, std::uint32_t count) {
  o.points = points;
  o.point_count = count;
  return vector::add_object(d, 0, kind, &o, 0);
}

// A solid rectangle over columns [left, right) and rows [top, bottom) of the frame. The
// painter puts a world point at a pixel's centre: a pixel's area is half a unit around it.
int add_cells(vector::Drawing* d, double left, double top, double right, double bottom,
              std::uint32_t colour) {
  left -= 0.5, top -= 0.5, right -= 0.5, bottom -= 0.5;
  vector::ObjectDescription o;
  vector::init_object_description(&o);
  o.attributes.interior_style = vector::InteriorStyle::kSolid;
  o.attributes.fill_colour = colour;
  o.attributes.edge_visible = 0;
  const vector::Vertex corners[2] = {{left, -top, 0}, {right, -bottom, 0}};
  return add(d, vector::ObjectKind::kRectangle, o, corners, 2);
}

// Pixel value k of a bitmap stored as one stream of NBPP-bit values, rows unpadded.
std::uint32_t pixel(const std::uint8_t* bits, std::uint64_t k, int depth) {
  if (depth == 8) return bits[k];
  return (bits[k / 8] >> (7 - k % 8)) & 1u;
}

// A value through the DLUT (red, green, blue per entry); without an entry a grey level
// (1-bit: 0 black, 1 white).
std::uint32_t lut_colour(const kernel::Buffer<std::uint8_t>& lut, std::uint32_t v, int depth) {
  if (std::uint64_t{v} * 3 + 2 < lut.size()) {
    const std::uint8_t* e = lut.data() + std::size_t{v} * 3;
    return e[0] | (e[1] << 8) | (std::uint32_t{e[2]} << 16);
  }
  const std::uint32_t grey = depth == 1 ? v * 255 : v;
  return grey | grey << 8 | grey << 16;
}

int bitmap_symbol(const NitfGraphicSubheader& g, const kernel::Buffer<std::uint8_t>& data,
                  vector::Drawing* d) {
  const std::int64_t rows = parse_decimal(g.nlips), columns = parse_decimal(g.npixpl);
  const int depth = parse_decimal(g.nbpp);
  if ((depth != 1 && depth != 8) || rows < 0 || columns < 0) return RET_FILE_FORMAT;
  if (static_cast<std::uint64_t>((rows * columns * depth + 7) / 8) > data.size())
    return RET_FILE_FORMAT;
  for (std::int64_t r = 0; r < rows; ++r) {
    std::int64_t start = 0;
    for (std::int64_t c = 1; c <= columns; ++c) {
      const std::uint64_t at = static_cast<std::uint64_t>(r * columns);
      const std::uint32_t v = pixel(data.data(), at + static_cast<std::uint64_t>(start), depth);
      if (c < columns && pixel(data.data(), at + static_cast<std::uint64_t>(c), depth) == v)
        continue;
      const std::uint32_t colour = lut_colour(g.dlut, v, depth);
      if (int x = add_cells(d, double(start), double(r), double(c), double(r + 1), colour);
          x != RET_SUCCESS)
        return x;
      start = c;
    }
  }
  return RET_SUCCESS;
}

// The arrow's head: two strokes back from the tip at 30 degrees either side.
int arrow_head(vector::Drawing* d, vector::ObjectDescription& o, vector::Vertex tip,
               double length) {
  const double norm = std::hypot(tip.x, tip.y);
  if (norm == 0) return RET_SUCCESS;
  const double ux = -tip.x / norm, uy = -tip.y / norm, c = std::cos(0.5236), s = std::sin(0.5236);
  for (double side : {1.0, -1.0}) {
    const vector::Vertex end{tip.x + length * (ux * c - side * uy * s),
                             tip.y + length * (side * ux * s + uy * c), 0};
    const vector::Vertex stroke[2] = {tip, end};
    if (int x = add(d, vector::ObjectKind::kPolyline, o, stroke, 2); x != RET_SUCCESS) return x;
  }
  return RET_SUCCESS;
}

// SNUM's object types: 1 line, 2 arrow, 3 circle (centre SLOC, through SLOC2),
// 4 rectangle and 5 ellipse (corners SLOC and SLOC2).
int object_symbol(const NitfGraphicSubheader& g, vector::Drawing* d) {
  vector::ObjectDescription o;
  vector::init_object_description(&o);
  o.attributes.line_width_mode = o.attributes.edge_width_mode = 0;
  o.attributes.line_width = o.attributes.edge_width = std::max(1, parse_decimal(g.nwdth));
  o.attributes.line_colour = o.attributes.edge_colour = symbol_colour(g.scolor[0]);
  o.attributes.edge_visible = 1;
  o.attributes.interior_style = vector::InteriorStyle::kEmpty;
  const vector::Vertex from{0, 0, 0};
  const vector::Vertex to{double(g.sloc2_column - g.sloc_column), double(g.sloc_row - g.sloc2_row),
                          0};
  const vector::Vertex line[2] = {from, to};
  switch (parse_decimal(g.snum)) {
    case 1:
      return add(d, vector::ObjectKind::kPolyline, o, line, 2);
    case 2:
      if (int x = add(d, vector::ObjectKind::kPolyline, o, line, 2); x != RET_SUCCESS) return x;
      return arrow_head(d, o, to, std::max(6.0, 3 * o.attributes.line_width));
    case 3:
      o.radius = std::hypot(to.x, to.y);
      return add(d, vector::ObjectKind::kCircle, o, line, 1);
    case 4:
      return add(d, vector::ObjectKind::kRectangle, o, line, 2);
    case 5: {
      const vector::Vertex c{to.x / 2, to.y / 2, 0};
      const vector::Vertex e[3] = {c, {to.x, c.y, 0}, {c.x, to.y, 0}};
      return add(d, vector::ObjectKind::kEllipse, o, e, 3);
    }
    default:
      return RET_NOT_SUPPORTED;
  }
}

// The label's text, checked against the file before it is read.
int label_text(NitfDocument* d, std::uint32_t index, kernel::Buffer<char>* out) {
  const std::uint64_t length = d->header.labels.data(index);
  const std::int64_t at = segment_data_offset(*d, SegmentKind::kLabel, index);
  if (at < 0 || at > d->file_size || length > static_cast<std::uint64_t>(d->file_size - at))
    return RET_FILE_READ;
  if (!out->allocate(static_cast<std::size_t>(length) + 1)) return RET_NO_MEMORY;
  (*out)[static_cast<std::size_t>(length)] = '\0';
  if (kernel::seek_file(d->file, at, kernel::kSeekSet) != at) return RET_FILE_READ;
  return kernel::read_file(d->file, out->data(), length) == length ? RET_SUCCESS : RET_FILE_READ;
}

// One line of a label: its background cells and its characters.
int label_line(vector::Drawing* d, const NitfLabelSubheader& l, const char* text, std::size_t n,
               int line, double width, double height) {
  if (n == 0) return RET_SUCCESS;
  const double top = line * height;
  if (int x = add_cells(d, 0, top, width * double(n), top + height, l.background); x != RET_SUCCESS)
    return x;
  vector::ObjectDescription o;
  vector::init_object_description(&o);
  o.attributes.text_colour = l.text_colour;
  o.attributes.character_height = height * 0.8;
  o.text = text;
  o.text_length = static_cast<std::uint32_t>(n);
  const vector::Vertex at{0, -(top + height * 0.8), 0};
  return add(d, vector::ObjectKind::kText, o, &at, 1);
}

}  // namespace

int symbol20_drawing(const NitfGraphicSubheader& g, const kernel::Buffer<std::uint8_t>& data,
                     vector::Drawing* d) {
  return g.sfmt[0] == 'B' ? bitmap_symbol(g, data, d) : object_symbol(g, d);
}

// A cell of 0 is 8 x 12 pixels (LCW 0, LCH 0: the default font size).
int label_drawing(NitfDocument* d, std::uint32_t index, vector::Drawing* out) {
  if (index >= d->labels.size() || !d->labels[index]) return RET_BAD_ARGUMENT;
  const NitfLabelSubheader& l = *d->labels[index];
  if (int r = vector::init(out); r != RET_SUCCESS) return r;
  kernel::Buffer<char> text;
  if (int r = label_text(d, index, &text); r != RET_SUCCESS) return r;
  const double width = l.cell_width > 0 ? l.cell_width : 8,
               height = l.cell_height > 0 ? l.cell_height : 12;
  int line = 0;
  for (const char *p = text.data(), *end = p + text.size() - 1; p < end; ++line) {
    const char* stop = std::find_if(p, end, [](char c) { return c == '\r' || c == '\n'; });
    if (int r = label_line(out, l, p, std::size_t(stop - p), line, width, height); r != RET_SUCCESS)
      return r;
    p = stop < end && *stop == '\r' && stop + 1 < end && stop[1] == '\n' ? stop + 2 : stop + 1;
  }
  return RET_SUCCESS;
}

int label_extent(NitfDocument* d, std::uint32_t index, std::int64_t row_offset,
                 std::int64_t column_offset, std::int64_t* right, std::int64_t* bottom) {
  *right = *bottom = 0;
  vector::Drawing drawing;
  int r = label_drawing(d, index, &drawing);
  vector::Point3 lower{}, upper{};
  if (r == RET_SUCCESS && vector::bounds(&drawing, &lower, &upper) == RET_SUCCESS) {
    const NitfLabelSubheader& l = *d->labels[index];
    *right = l.lloc_column + column_offset + static_cast<std::int64_t>(std::ceil(upper.x));
    *bottom = l.lloc_row + row_offset + static_cast<std::int64_t>(std::ceil(-lower.y));
  }
  vector::release(&drawing);
  return r;
}

int draw_label_segment(kernel::DrawingContext* dc, NitfDocument* d, std::uint32_t index,
                       std::int64_t row_offset, std::int64_t column_offset) {
  vector::Drawing drawing;
  int r = label_drawing(d, index, &drawing);
  if (r == RET_SUCCESS && dc) {
    const NitfLabelSubheader& l = *d->labels[index];
    r = vector::paint_drawing(dc, drawing, double(l.lloc_row + row_offset),
                              double(l.lloc_column + column_offset), d->background);
  }
  vector::release(&drawing);
  return r;
}

}  // namespace nitf
