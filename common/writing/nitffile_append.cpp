// Appending segments to a document: graphics from a vector drawing, texts from a file,
// the replacement of a graphic's drawing, and what every append shares (the length
// tables, display levels and the date a new segment gets).
//
// An append makes everything it needs first (the encoded data, the record, the grown
// length tables, room in the record list) and changes the document only when nothing
// can fail any more, so a failed append leaves the document exactly as it was.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "core/utility_canvas.h"
#include "fields/fieldreader.h"
#include "fields/utility.h"
#include "fileformat/save.h"
#include "graphics_text/handlgfx.h"
#include "kernel/global_memory.h"
#include "vector/drawing.h"
#include "writing/utility_setters.h"

namespace nitf {
namespace {

// The drawing as CGM bytes of the NITF profile.
int drawing_to_cgm(const vector::Drawing* drawing, kernel::Buffer<std::uint8_t>* out) {
  std::uint8_t options[fileformat::kSaveOptionsSize] = {};
  fileformat::default_save_options(options, sizeof options);
  options[fileformat::kSaveOptionsProfileWord] |= 1;
  kernel::GlobalMemory* handle = nullptr;
  std::uint32_t size = 0;
  const int r =
      fileformat::save_vector_to_memory(&handle, drawing, fileformat::kSaveCgm, &size, options);
  if (r != RET_SUCCESS) {
    kernel::global_free(handle);
    return r;
  }
  return take_global_memory(handle, size, out);
}

// The lowest display level among images and graphics (the first drawn), if any.
bool lowest_display_level(const NitfDocument& d, std::int32_t* level) {
  DrawList list;
  if (build_draw_list(d, &list) != RET_SUCCESS || list.entries.empty()) return false;
  *level = list.entries[0].level;
  return true;
}

// World bounds -> the rows and columns the painted ink covers relative to SLOC, as
// SBND1 (top, left) and SBND2 (bottom, right).
struct Bounds {
  std::int64_t top, left, bottom, right;
};

Bounds painted_bounds(const vector::Point3& lower, const vector::Point3& upper, double margin) {
  return {static_cast<std::int64_t>(std::floor(-upper.y - margin)),
          static_cast<std::int64_t>(std::floor(lower.x - margin)),
          static_cast<std::int64_t>(std::ceil(-lower.y + margin)),
          static_cast<std::int64_t>(std::ceil(upper.x + margin))};
}

bool fits_location(std::int64_t v) {
  return v >= -9999 && v <= 99999;
}

// Moves a drawing that reaches above y = 0 down, so that every row -y is at least 1.
int move_below_origin(vector::Drawing* drawing) {
  vector::Point3 lower, upper;
  if (vector::bounds(drawing, &lower, &upper) != RET_SUCCESS) return RET_EMPTY_VECTOR;
  if (upper.y <= 0) return RET_SUCCESS;
  const vector::Point3 by{0, -upper.y - 1, 0};
  if (int r = vector::translate(drawing, &by); r != RET_SUCCESS) return r;
  vector::apply(drawing);
  return vector::set_view_origin(drawing, 0, 0);
}

int check_drawing(const vector::Drawing* drawing) {
  if (!drawing) return RET_MISSING_DATA;
  if (vector::is_empty(drawing) || drawing->objects.count == 0) return RET_EMPTY_VECTOR;
  return RET_SUCCESS;
}

}  // namespace

int take_global_memory(kernel::GlobalMemory* handle, std::uint32_t size,
                       kernel::Buffer<std::uint8_t>* out) {
  kernel::record_object(kernel::ObjectKind::kPalette, handle);
  const void* bytes = kernel::global_lock(handle);
  int result = RET_SUCCESS;
  if ((size != 0 && !bytes) || size > kernel::global_size(handle) || !out->allocate(size)) {
    result = RET_NO_MEMORY;
  } else if (size != 0) {
    std::memcpy(out->data(), bytes, size);
  }
  kernel::global_unlock(handle);
  kernel::unrecord_object(kernel::ObjectKind::kPalette, handle);
  kernel::global_free(handle);
  return result;
}

int StagedLengths::stage(const NitfDocument& d, std::uint64_t subheader, std::uint64_t data) {
  const LengthTables& from = d.header.*length_group_counted_by(count)->tables;
  const std::size_t n = static_cast<std::size_t>(std::max(from.count, 0));
  if (n >= 999) return RET_FAILURE;
  if (!tables.allocate(n + 1)) return RET_NO_MEMORY;
  for (std::size_t i = 0; i < n; ++i) {
    tables.subheader_source[i] = from.subheader_source.at_or(i, 0);
    tables.subheader_current[i] = from.subheader_current.at_or(i, 0);
    tables.data_source[i] = from.data_source.at_or(i, 0);
    tables.data_current[i] = from.data_current.at_or(i, 0);
  }
  tables.subheader_source[n] = tables.subheader_current[n] = subheader;
  tables.data_source[n] = tables.data_current[n] = data;
  tables.count = static_cast<std::int32_t>(n + 1);
  return RET_SUCCESS;
}

void StagedLengths::commit(NitfDocument* d) {
  const LengthGroup& g = *length_group_counted_by(count);
  const auto fields = header_fields();
  const std::uint64_t added = tables.subheader_current[std::size_t(tables.count) - 1] +
                              tables.data_current[std::size_t(tables.count) - 1];
  LengthTables& into = d->header.*g.tables;
  into = std::move(tables);
  const HeaderField& count_field = field(fields, count);
  FormatNumberField(count_field.text(d->header), count_field.width, into.count);
  AdjustHeaderLength(d, field(fields, g.subheader).width + field(fields, g.data).width);
  AdjustFileLength(d, static_cast<std::int64_t>(added));
}

std::int32_t highest_display_level(const NitfDocument& d) {
  std::int32_t highest = 0;
  for (const auto& r : d.images)
    if (r) highest = std::max(highest, r->display_level);
  for (const auto& r : d.graphics)
    if (r) highest = std::max(highest, r->sdlvl);
  return highest;
}

void older_date(const char* fdt, bool seconds_too, char out[15]) {
  char parts[14];
  if (fdt[0] == '\0' || std::strlen(fdt) < 14) {
    std::memcpy(parts, "50020530010101", 14);
  } else {
    std::memcpy(parts, fdt, 14);
  }
  // From the last part allowed to change towards the century: the first above 1 loses
  // one, so the segment is a moment older than the file.
  for (int p = seconds_too ? 6 : 5; p >= 0; --p) {
    const int value = (parts[2 * p] - '0') * 10 + (parts[2 * p + 1] - '0');
    if (parts[2 * p] < '0' || parts[2 * p] > '9' || parts[2 * p + 1] < '0' ||
        parts[2 * p + 1] > '9' || value <= 1)
      continue;
    parts[2 * p] = static_cast<char>('0' + (value - 1) / 10);
    parts[2 * p + 1] = static_cast<char>('0' + (value - 1) % 10);
    break;
  }
  std::memcpy(out, parts, 14);
  out[14] = '\0';
}

namespace {

// Checks the drawing, moves it below the origin and gives it the caller's viewport;
// `*b` receives the rows and columns its ink covers.
int prepare_drawing(vector::Drawing* drawing, const std::int32_t rectangle[4], Bounds* b) {
  if (int r = check_drawing(drawing); r != RET_SUCCESS) return r;
  vector::Point3 lower, upper;
  if (vector::bounds(drawing, &lower, &upper) != RET_SUCCESS) return RET_EMPTY_VECTOR;
  if (-upper.y > 99999 || upper.x > 99999 || -lower.y > 99999) return RET_INVALID_PARAMETER;
  if (int r = move_below_origin(drawing); r != RET_SUCCESS) return r;
  vector::set_viewport(drawing, rectangle);
  vector::set_view_origin(drawing, 0, 0);
  vector::set_view_zoom(drawing, 0);
  vector::set_view_rotation(drawing, 0);
  vector::bounds(drawing, &lower, &upper);
  *b = painted_bounds(lower, upper, ink_margin(*drawing));
  const bool fits = fits_location(b->top) && fits_location(b->left) && fits_location(b->bottom) &&
                    fits_location(b->right);
  return fits ? RET_SUCCESS : RET_INVALID_PARAMETER;
}

// Drawn above everything the document has, attached to what is drawn first, and
// bounded by its ink.
void place_graphic(NitfGraphicSubheader& g, const NitfDocument& d, const Bounds& b) {
  const auto table = graphic_fields();
  std::int32_t lowest = 0;
  put_number(field(table, GraphicId::SDLVL), g, highest_display_level(d) + 1);
  put_number(field(table, GraphicId::SALVL), g, lowest_display_level(d, &lowest) ? lowest : 0);
  put_location(field(table, GraphicId::SBND1), g, b.top, b.left);
  put_location(field(table, GraphicId::SBND2), g, b.bottom, b.right);
}

}  // namespace

int append_graphic_segment(NitfDocument* d, vector::Drawing* drawing,
                           const std::int32_t rectangle[4]) {
  if (d->graphic_count + 1 > 999) return RET_FAILURE;
  Bounds b{};
  if (int r = prepare_drawing(drawing, rectangle, &b); r != RET_SUCCESS) return r;
  const std::uint32_t index = d->graphic_count;
  auto record = kernel::make_tracked<NitfGraphicSubheader>(d, index);
  if (!record) return RET_NO_MEMORY;
  if (int r = drawing_to_cgm(drawing, &record->cgm); r != RET_SUCCESS) return r;
  record->has_cgm = 1;
  StagedLengths lengths(HeaderId::NUMS);
  if (int r = lengths.stage(*d, graphic_subheader_length(), record->cgm.size()); r != RET_SUCCESS)
    return r;
  if (d->graphics.size() != index) return RET_FAILURE;
  try {
    d->graphics.reserve(index + 1);
  } catch (const std::bad_alloc&) {
    return RET_NO_MEMORY;
  }
  place_graphic(*record, *d, b);
  d->graphics.push_back(std::move(record));
  d->graphic_count = index + 1;
  lengths.commit(d);
  return RET_SUCCESS;
}

int set_vector_handle(NitfDocument* d, std::uint32_t index, const vector::Drawing* drawing) {
  NitfGraphicSubheader* g =
      index < d->graphic_count && index < d->graphics.size() ? d->graphics[index].get() : nullptr;
  if (!g) return RET_INVALID_PARAMETER;
  if (int r = check_drawing(drawing); r != RET_SUCCESS) return r;
  kernel::Buffer<std::uint8_t> cgm;
  if (int r = drawing_to_cgm(drawing, &cgm); r != RET_SUCCESS) return r;
  vector::Drawing copy;
  if (int r = vector::copy(&copy, drawing, 0); r != RET_SUCCESS) return r;
  const std::int64_t before = static_cast<std::int64_t>(
      g->has_cgm ? g->cgm.size() : d->header.graphics.data_current.at_or(index, 0));
  g->cgm = std::move(cgm);
  g->has_cgm = 1;
  vector::copy(&g->vector, &copy, 0);
  vector::release(&copy);
  LengthTables& t = d->header.graphics;
  if (index < t.data_current.size()) t.data_current[index] = g->cgm.size();
  AdjustFileLength(d, static_cast<std::int64_t>(g->cgm.size()) - before);
  return RET_SUCCESS;
}

namespace {

// The whole file, checked against the LT field before it is read.
int read_text_file(const wchar_t* name, kernel::Buffer<char>* out) {
  const int file = kernel::open_file(name, kernel::kModeRead, kernel::kPermRead);
  if (file < 0) return RET_FILE_OPEN;
  int result = RET_SUCCESS;
  const std::int64_t size = kernel::file_size(file);
  if (size < 0) {
    result = RET_FILE_READ;
  } else if (size > 99999) {
    result = RET_INVALID_PARAMETER;  // the 5-digit LT field holds no more
  } else if (!out->allocate(static_cast<std::size_t>(size) + 1)) {
    result = RET_NO_MEMORY;
  } else if (kernel::seek_file(file, 0, kernel::kSeekSet) != 0 ||
             kernel::read_file(file, out->data(), std::size_t(size)) != std::size_t(size)) {
    result = RET_FILE_READ;
  } else {
    (*out)[std::size_t(size)] = '\0';
  }
  kernel::close_file(file);
  return result;
}

}  // namespace

int append_text_segment(NitfDocument* d, const wchar_t* name) {
  if (d->text_count + 1 > 999) return RET_FAILURE;
  if (!name) return RET_FILE_OPEN;
  const std::uint32_t index = d->text_count;
  auto record = kernel::make_tracked<NitfTextSubheader>(d, index);
  if (!record) return RET_NO_MEMORY;
  if (int r = read_text_file(name, &record->memory_text); r != RET_SUCCESS) return r;
  record->has_memory_text = 1;
  const std::size_t size = record->memory_text.size() - 1;
  StagedLengths lengths(HeaderId::NUMT);
  if (int r = lengths.stage(*d, text_subheader_length(), size); r != RET_SUCCESS) return r;
  if (d->texts.size() != index) return RET_FAILURE;
  try {
    d->texts.reserve(index + 1);
  } catch (const std::bad_alloc&) {
    return RET_NO_MEMORY;
  }
  older_date(d->header.fdt, false, record->txtdt);
  std::int32_t lowest = 0;
  if (lowest_display_level(*d, &lowest))
    put_number(field(text_fields(), TextId::TXTALVL), *record, lowest);
  d->texts.push_back(std::move(record));
  d->text_count = index + 1;
  lengths.commit(d);
  return RET_SUCCESS;
}

}  // namespace nitf
