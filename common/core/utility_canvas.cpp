// The composition's geometry: which segments are drawn in which order, where each one
// lands on the common coordinate system, and how large the canvas must be.
//
// Everything here reads the document's records and never changes them. Positions come
// from fields of the file (ILOC, IALVL, block sizes), so they are added up in 64 bits
// and a size that could not be a canvas becomes a code before anything is allocated.
#include <algorithm>
#include <array>
#include <bitset>
#include <cstdio>
#include <limits>
#include <utility>

#include "core/nitffile.h"
#include "core/utility_canvas.h"
#include "image/data/imgmodes_blocks.h"

#include "graphics_text/handlgfx.h"
#include "graphics_text/handlsym20.h"

namespace nitf {
namespace {

// Display and attachment levels are three-character fields: "-99" to "999".
constexpr std::int32_t kLowestLevel = -99;
constexpr std::int32_t kHighestLevel = 999;
constexpr std::size_t kLevels = kHighestLevel - kLowestLevel + 1;

constexpr std::uint32_t kDefaultCanvas = 2048;
constexpr std::uint32_t kTextCanvas = 2;
constexpr int kCanvasBitsPerPixel = 24;

bool level_slot(std::int32_t level, std::size_t* slot) {
  if (level < kLowestLevel || level > kHighestLevel) return false;
  *slot = static_cast<std::size_t>(level - kLowestLevel);
  return true;
}

void debug_line(const char* format, auto... values) {
  char line[200];
  std::snprintf(line, sizeof line, format, values...);
  kernel::debug_output(line);
}

// Where a segment of the chain sits relative to the one it is attached to.
struct Placement {
  std::int32_t attachment = 0;
  std::int32_t row = 0, column = 0;
};

// The first record of each kind that shows a display level, so that each step of an
// attachment walk is one look-up instead of a scan of up to 999 records.
class LevelIndex {
 public:
  explicit LevelIndex(const NitfDocument& d) : document_(d) {
    for (std::size_t i = d.images.size(); i-- > 0;)
      if (d.images[i]) remember(images_, d.images[i]->display_level, i);
    for (std::size_t i = d.graphics.size(); i-- > 0;)
      if (d.graphics[i]) remember(graphics_, d.graphics[i]->sdlvl, i);
    for (std::size_t i = d.labels.size(); i-- > 0;)
      if (d.labels[i]) remember(labels_, d.labels[i]->ldlvl, i);
  }

  bool find(SegmentKind kind, std::int32_t level, Placement* out) const {
    std::size_t slot = 0;
    if (!level_slot(level, &slot)) return false;
    if (kind == SegmentKind::kImage) {
      if (images_[slot] == 0) return false;
      const NitfImageSubheader& s = *document_.images[images_[slot] - 1];
      *out = {s.attachment_level, s.location_row, s.location_column};
    } else if (kind == SegmentKind::kGraphic) {
      if (graphics_[slot] == 0) return false;
      const NitfGraphicSubheader& g = *document_.graphics[graphics_[slot] - 1];
      *out = {g.salvl, g.sloc_row, g.sloc_column};
    } else {
      if (labels_[slot] == 0) return false;
      const NitfLabelSubheader& l = *document_.labels[labels_[slot] - 1];
      *out = {l.lalvl, l.lloc_row, l.lloc_column};
    }
    return true;
  }

 private:
  using Table = std::array<std::uint32_t, kLevels>;  // record index + 1, 0 for none

  // Called from the last record to the first, so the first with a level wins.
  static void remember(Table& table, std::int32_t level, std::size_t index) {
    std::size_t slot = 0;
    if (level_slot(level, &slot)) table[slot] = static_cast<std::uint32_t>(index + 1);
  }

  const NitfDocument& document_;
  Table images_{}, graphics_{}, labels_{};
};

std::int32_t attachment_level_of(const NitfDocument& d, const DrawEntry& e) {
  if (e.kind == static_cast<std::int32_t>(SegmentKind::kImage))
    return e.index < d.images.size() && d.images[e.index] ? d.images[e.index]->attachment_level : 0;
  if (e.kind == static_cast<std::int32_t>(SegmentKind::kLabel))
    return e.index < d.labels.size() && d.labels[e.index] ? d.labels[e.index]->lalvl : 0;
  return e.index < d.graphics.size() && d.graphics[e.index] ? d.graphics[e.index]->salvl : 0;
}

void exchange_sort(DrawEntry* entries, std::size_t count) {
  for (std::size_t a = 0; a + 1 < count; ++a)
    for (std::size_t b = a + 1; b < count; ++b)
      if (entries[b].level < entries[a].level) std::swap(entries[a], entries[b]);
}

struct Extent {
  std::int64_t right = 0, bottom = 0;
};

// The block grid of an image (padding included; for extended reading cut to NROWS x
// NCOLS) placed on the canvas. A block size of 0 stands for NCOLS or NROWS as it does for
// the image reader, so the canvas holds what the reader makes.
int image_extent(const NitfImageSubheader& s, std::uint32_t index, std::int64_t row_offset,
                 std::int64_t column_offset, bool extended, Extent* out) {
  imgdata::BlockGrid grid;
  if (imgdata::block_grid(s, &grid) != RET_SUCCESS) {
    debug_line("image segment %u: negative block geometry (NPPBH %d NBPR %d NPPBV %d NBPC %d)\n",
               index, s.block_width, s.blocks_per_row, s.block_height, s.blocks_per_column);
    return RET_FILE_FORMAT;
  }
  const imgdata::PictureSize size = imgdata::picture_size(s, grid, extended);
  out->right = size.width + s.location_column + column_offset;
  out->bottom = size.height + s.location_row + row_offset;
  if (out->right < 0 || out->bottom < 0) {
    debug_line("image segment %u: placed wholly outside the canvas (right %lld, bottom %lld)\n",
               index, static_cast<long long>(out->right), static_cast<long long>(out->bottom));
    return RET_FILE_FORMAT;
  }
  return RET_SUCCESS;
}

int entry_extent(NitfDocument& d, const DrawEntry& e, Extent* out) {
  std::int64_t row = 0, column = 0;
  attachment_offset(d, e, &row, &column);
  if (e.kind == static_cast<std::int32_t>(SegmentKind::kLabel))
    return label_extent(&d, e.index, row, column, &out->right, &out->bottom);
  if (e.kind != static_cast<std::int32_t>(SegmentKind::kImage))
    return graphic_extent(&d, e.index, row, column, &out->right, &out->bottom);
  const NitfImageSubheader* s = e.index < d.images.size() ? d.images[e.index].get() : nullptr;
  if (!s) return RET_BAD_ARGUMENT;
  return image_extent(*s, e.index, row, column, d.extended != 0, out);
}

// The largest extents as a canvas size, or the code of a size no canvas can have.
int size_from_extent(const Extent& most, std::uint32_t* width, std::uint32_t* height) {
  if (most.right == 0 && most.bottom == 0) {
    *width = *height = kDefaultCanvas;
    return RET_SUCCESS;
  }
  if (most.right == 0 || most.bottom == 0) {
    debug_line("canvas of %lld x %lld: the segments have no extent in one direction\n",
               static_cast<long long>(most.right), static_cast<long long>(most.bottom));
    return RET_FILE_FORMAT;
  }
  constexpr std::int64_t kLargestSide = std::numeric_limits<std::int32_t>::max();
  const std::uint64_t row_bytes =
      (static_cast<std::uint64_t>(most.right) * kCanvasBitsPerPixel + 31) / 32 * 4;
  std::uint64_t bytes = 0;
  if (most.right > kLargestSide || most.bottom > kLargestSide ||
      kernel::mul_overflows(row_bytes, static_cast<std::uint64_t>(most.bottom), &bytes) ||
      bytes > kernel::allocation_cap()) {
    debug_line("canvas of %lld x %lld: beyond the allocation limit\n",
               static_cast<long long>(most.right), static_cast<long long>(most.bottom));
    return RET_NO_MEMORY;
  }
  *width = static_cast<std::uint32_t>(most.right);
  *height = static_cast<std::uint32_t>(most.bottom);
  return RET_SUCCESS;
}

}  // namespace

int build_draw_list(const NitfDocument& d, DrawList* out) {
  out->entries.reset();
  const std::size_t count =
      std::size_t{count_present(d.images)} + count_present(d.graphics) + count_present(d.labels);
  if (count == 0) return RET_SUCCESS;
  if (!out->entries.allocate(count)) return RET_NO_MEMORY;
  DrawEntry* e = out->entries.data();
  for (std::uint32_t i = 0; i < d.images.size(); ++i)
    if (d.images[i])
      *e++ = {static_cast<std::int32_t>(SegmentKind::kImage), d.images[i]->display_level, i};
  for (std::uint32_t j = 0; j < d.graphics.size(); ++j)
    if (d.graphics[j])
      *e++ = {static_cast<std::int32_t>(SegmentKind::kGraphic), d.graphics[j]->sdlvl, j};
  for (std::uint32_t k = 0; k < d.labels.size(); ++k)
    if (d.labels[k]) *e++ = {static_cast<std::int32_t>(SegmentKind::kLabel), d.labels[k]->ldlvl, k};
  exchange_sort(out->entries.data(), count);
  return RET_SUCCESS;
}

void attachment_offset(const NitfDocument& d, const DrawEntry& entry, std::int64_t* row,
                       std::int64_t* column) {
  const LevelIndex index(d);
  std::bitset<kLevels> visited;
  std::size_t slot = 0;
  if (level_slot(entry.level, &slot)) visited.set(slot);
  std::int32_t level = attachment_level_of(d, entry);
  // Images are followed first, then graphics, and again while either pass moved on.
  for (bool moved = true; moved;) {
    moved = false;
    for (SegmentKind kind : {SegmentKind::kImage, SegmentKind::kGraphic, SegmentKind::kLabel}) {
      Placement p;
      while (index.find(kind, level, &p)) {
        level_slot(level, &slot);
        if (visited.test(slot)) return;
        visited.set(slot);
        *row += p.row;
        *column += p.column;
        level = p.attachment;
        moved = true;
      }
    }
  }
}

int canvas_size(NitfDocument* d, std::uint32_t* width, std::uint32_t* height) {
  if (d->fixed_canvas) {
    *width = *height = kDefaultCanvas;
    return RET_SUCCESS;
  }
  DrawList list;
  if (int r = build_draw_list(*d, &list); r != RET_SUCCESS) return r;
  if (list.entries.empty() && count_present(d->texts) > 0) {
    *width = *height = kTextCanvas;
    return RET_SUCCESS;
  }
  Extent most;
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    Extent e;
    if (int r = entry_extent(*d, list.entries[i], &e); r != RET_SUCCESS) return r;
    most.right = std::max(most.right, e.right);
    most.bottom = std::max(most.bottom, e.bottom);
  }
  return size_from_extent(most, width, height);
}

}  // namespace nitf
