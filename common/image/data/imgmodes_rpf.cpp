// The reader of RPF frames: CADRG (MIL-C-89038) and CIB map frames, MIL-STD-2411.
//
// A frame's image data are not the VQ stream of MIL-STD-188-199. The RPFIMG TRE opens
// with the location section, whose records give each RPF section's component ID, length
// and position in the file; the sections lie in the image subheader (after the location
// section) and at the start of the image data. All numbers are big-endian:
//   location section    length 2, table offset 4, record count 2, record length 2,
//                       aggregate length 4; records of ID 2, length 4, position 4
//   compression (131)   algorithm 2 (1: VQ), lookup records 2, parameter records 2
//   lookup (132)        table offset 4, record length 2; records of table ID 2,
//                       entries 4, values per entry 2, value bits 2, offset 4 (from the
//                       subsection); table t gives row t of every kernel
//   colour/grey (134)   colour/grey records 1, converter records 1, file name 12
//   colormap (135)      table offset 4, record length 2; records of table ID 2,
//                       entries 4, element bytes 1 (R, G, B, M), histogram record
//                       length 2, table offset 4, histogram offset 4
//   description (136)   spectral groups 2, subframe tables 2, band tables 2, band
//                       lines 2, subframes across 2 and down 2, columns 4 and rows 4
//                       of a subframe, subframe mask table offset 4, transparency mask
//                       table offset 4 (from the mask subsection; all ones: none)
//   display (137)       code rows 4, codes per row 4, code bits 1
//   mask (138)          subframe record length 2, transparency record length 2,
//                       transparent code bits 2, the code; the subframe mask table has
//                       one record per subframe, row by row: the subframe's offset in
//                       the spatial data, all ones for a subframe not stored
//   spatial data (140)  each subframe's codes, most significant bit first
// A CADRG frame is 6 x 6 subframes of 256 x 256 pixels, 64 x 64 codes of 12 bits each
// painting a 4 x 4 kernel from 4096 entries. Every position, length, offset and count
// comes from the file: the file must hold the whole image segment, a section must start
// inside it and is cut at its end, every read is checked against its section before
// anything is allocated, and no allocation is larger than the section it is read from.
#include "image/data/imgmodes_rpf.h"

#include <kvntfu.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>

#include "core/nitffile.h"
#include "image/data/imgmodes_blocks.h"
#include "kernel.h"

namespace nitf {
namespace {

using imgdata::BlockGrid;

enum Section : std::size_t {
  kCompression,
  kLookup,
  kColourGrey,
  kColourMap,
  kDescription,
  kDisplay,
  kMask,
  kSpatial,
  kSectionCount
};
// Their component IDs in the location table (MIL-STD-2411-1).
constexpr std::uint16_t kComponentIds[kSectionCount] = {131, 132, 134, 135, 136, 137, 138, 140};

constexpr std::uint32_t kAbsent = 0xFFFFFFFF;
constexpr std::size_t kTreHeader = 11;  // tag 6, CEL 5

std::uint16_t be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

struct Place {
  bool listed = false;
  std::uint64_t at = 0, length = 0;  // in the file; cut to the image segment
};

struct Geometry {
  std::uint32_t across = 0, down = 0, width = 0, height = 0;  // subframes and their size
  std::uint32_t code_rows = 0, codes_per_row = 0, code_bits = 0;
  std::uint32_t kernel_width = 0, kernel_height = 0;
  std::uint32_t mask_table = kAbsent;  // in the mask subsection
  std::uint64_t subframe_bytes = 0;
  std::uint64_t subframes() const { return std::uint64_t{across} * down; }
};

// Table t, entry i is row t of kernel i: values[(t x entries + i) x kernel_width].
struct Codebook {
  kernel::Buffer<std::uint8_t> values;
  std::uint32_t entries = 0;
};

struct Reading {
  explicit Reading(const ImageReadContext& context) : c(context) {}
  const ImageReadContext& c;
  imgdata::DataSource file;  // from the file's first byte
  std::uint64_t segment_begin = 0, segment_end = 0;
  Place places[kSectionCount];
  Geometry q;
  Codebook book;
  kernel::Buffer<std::uint32_t> subframe_offsets;  // empty: stored one after the other
  // A subframe not stored shows the transparent code, or 0 without one.
  bool transparent = false;
  std::uint8_t blank = 0;
};

// Whether `count` bytes from `offset` lie in a section the location table lists.
bool fits(const Reading& g, Section s, std::uint64_t offset, std::uint64_t count) {
  const Place& p = g.places[s];
  return p.listed && offset <= p.length && count <= p.length - offset;
}

// Those bytes, or RET_FILE_FORMAT.
int read_in(const Reading& g, Section s, std::uint64_t offset, std::size_t count,
            std::uint8_t* out) {
  if (!fits(g, s, offset, count)) return RET_FILE_FORMAT;
  return g.file.read(g.places[s].at + offset, count, out);
}

bool five_digits(const std::uint8_t* p, std::size_t* value) {
  *value = 0;
  for (int i = 0; i < 5; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    *value = *value * 10 + (p[i] - '0');
  }
  return true;
}

// The data of an area's first RPFIMG TRE (cut to the area), or nothing.
std::span<const std::uint8_t> rpfimg_in(const TreArea& area) {
  const std::uint8_t* p = area.data();
  const std::size_t n = area.size();
  for (std::size_t at = 0, cel = 0; at + kTreHeader <= n; at += kTreHeader + cel) {
    if (!five_digits(p + at + 6, &cel)) break;
    if (std::memcmp(p + at, "RPFIMG", 6) == 0)
      return {p + at + kTreHeader, std::min(cel, n - at - kTreHeader)};
  }
  return {};
}

std::span<const std::uint8_t> rpfimg(const NitfImageSubheader& s) {
  const std::span<const std::uint8_t> user = rpfimg_in(s.udid);
  return user.empty() ? rpfimg_in(s.ixshd) : user;
}

// A section of the location table: the first record of its ID that starts in the image
// segment, cut to the segment's end.
void list(Reading* g, const std::uint8_t* record) {
  const std::uint16_t id = be16(record);
  const std::uint64_t length = be32(record + 2), at = be32(record + 6);
  if (at < g->segment_begin || at >= g->segment_end) return;
  for (std::size_t s = 0; s < kSectionCount; ++s) {
    Place& p = g->places[s];
    if (kComponentIds[s] == id && !p.listed) p = {true, at, std::min(length, g->segment_end - at)};
  }
}

int segment(Reading& g) {
  const NitfDocument& d = *g.c.document;
  const std::int64_t begin = segment_offset(d, SegmentKind::kImage, g.c.index);
  const std::int64_t data = segment_data_offset(d, SegmentKind::kImage, g.c.index);
  if (d.file < 0 || begin < 0 || data < begin) return RET_FILE_READ;
  g.file.file = d.file;
  g.segment_begin = static_cast<std::uint64_t>(begin);
  g.segment_end = static_cast<std::uint64_t>(data) + g.c.data_length;
  // A segment the file cuts short is refused as the other readers refuse it, even when
  // the sections needed lie before the cut.
  return g.segment_end > static_cast<std::uint64_t>(std::max<std::int64_t>(d.file_size, 0))
             ? RET_FILE_READ
             : RET_SUCCESS;
}

int locate(Reading& g) {
  const std::span<const std::uint8_t> loc = rpfimg(*g.c.subheader);
  if (loc.size() < 14) return RET_FILE_FORMAT;
  const std::uint64_t table = be32(&loc[2]), count = be16(&loc[6]), record = be16(&loc[8]);
  if (record < 10 || table > loc.size() || count * record > loc.size() - table)
    return RET_FILE_FORMAT;
  for (std::uint64_t k = 0; k < count; ++k) list(&g, &loc[table + k * record]);
  return RET_SUCCESS;
}

// Kernels tile a subframe exactly; the code count is bounded by its pixels.
int kernel_size(Geometry* q) {
  if (q->code_rows == 0 || q->codes_per_row == 0 || q->code_bits == 0 || q->code_bits > 32)
    return RET_FILE_FORMAT;
  q->kernel_width = q->width / q->codes_per_row;
  q->kernel_height = q->height / q->code_rows;
  if (std::uint64_t{q->kernel_width} * q->codes_per_row != q->width ||
      std::uint64_t{q->kernel_height} * q->code_rows != q->height)
    return RET_FILE_FORMAT;
  q->subframe_bytes = (std::uint64_t{q->code_rows} * q->codes_per_row * q->code_bits + 7) / 8;
  return RET_SUCCESS;
}

// The subframes are the NITF blocks: the same grid, the same size.
int describe(Reading& g) {
  const NitfImageSubheader& s = *g.c.subheader;
  if (s.band_count != 1 || s.bits_per_pixel != 8) return RET_NOT_SUPPORTED;
  BlockGrid grid;
  if (int r = imgdata::block_grid(s, &grid); r != RET_SUCCESS) return r;
  std::uint8_t d[28], p[9];
  if (int r = read_in(g, kDescription, 0, sizeof d, d); r != RET_SUCCESS) return r;
  if (int r = read_in(g, kDisplay, 0, sizeof p, p); r != RET_SUCCESS) return r;
  if (be16(d) != 1) return RET_NOT_SUPPORTED;  // one spectral group
  Geometry& q = g.q;
  q.across = be16(d + 8), q.down = be16(d + 10), q.width = be32(d + 12), q.height = be32(d + 16);
  q.mask_table = be32(d + 20);
  q.code_rows = be32(p), q.codes_per_row = be32(p + 4), q.code_bits = p[8];
  if (q.across != grid.per_row || q.down != grid.per_column || q.width != grid.width ||
      q.height != grid.height || q.width == 0 || q.height == 0)
    return RET_FILE_FORMAT;
  return kernel_size(&q);
}

// One lookup table's record: its entries (equal for every table) and where it starts.
int table_record(const Reading& g, std::uint64_t at, std::uint32_t* entries,
                 std::uint32_t* offset) {
  std::uint8_t r[14];
  if (int code = read_in(g, kLookup, at, sizeof r, r); code != RET_SUCCESS) return code;
  if (be16(r + 8) != 8) return RET_NOT_SUPPORTED;  // values of a byte
  if (be16(r + 6) != g.q.kernel_width || be32(r + 2) == 0) return RET_FILE_FORMAT;
  if (*entries != 0 && be32(r + 2) != *entries) return RET_FILE_FORMAT;
  *entries = be32(r + 2);
  *offset = be32(r + 10);
  return RET_SUCCESS;
}

// Every table read whole: all of them together within the subsection, so that tables
// claiming the same bytes cannot multiply the memory.
int read_table(Reading& g, std::uint32_t t, std::uint32_t offset) {
  Codebook& b = g.book;
  const std::uint64_t row = std::uint64_t{b.entries} * g.q.kernel_width;
  if (b.values.empty()) {
    const std::uint64_t all = row * g.q.kernel_height;
    if (!fits(g, kLookup, 0, all)) return RET_FILE_FORMAT;
    if (!b.values.allocate(static_cast<std::size_t>(all))) return RET_NO_MEMORY;
  }
  return read_in(g, kLookup, offset, static_cast<std::size_t>(row), b.values.data() + t * row);
}

int codebook(Reading& g) {
  std::uint8_t c[6], h[6];
  if (int r = read_in(g, kCompression, 0, sizeof c, c); r != RET_SUCCESS) return r;
  if (int r = read_in(g, kLookup, 0, sizeof h, h); r != RET_SUCCESS) return r;
  if (be16(c) != 1) return RET_NOT_SUPPORTED;  // vector quantisation
  if (be16(c + 2) != g.q.kernel_height || be16(h + 4) < 14) return RET_FILE_FORMAT;
  const std::uint64_t table = be32(h), record = be16(h + 4);
  for (std::uint32_t t = 0; t < g.q.kernel_height; ++t) {
    std::uint32_t offset = 0;
    int r = table_record(g, table + t * record, &g.book.entries, &offset);
    if (r == RET_SUCCESS) r = read_table(g, t, offset);
    if (r != RET_SUCCESS) return r;
  }
  return RET_SUCCESS;
}

// The mask subsection's header, and the transparent code (its last byte) when it has one.
int read_transparent(Reading& g, std::uint8_t header[6]) {
  if (int r = read_in(g, kMask, 0, 6, header); r != RET_SUCCESS) return r;
  const std::uint32_t bits = be16(header + 4);
  g.transparent = bits != 0;
  return g.transparent ? read_in(g, kMask, 6 + (bits + 7) / 8 - 1, 1, &g.blank) : RET_SUCCESS;
}

// A table of record length 0, or at an offset of all ones, is not there: the subframes
// are then stored one after the other.
int mask(Reading& g) {
  if (!g.places[kMask].listed) return RET_SUCCESS;
  std::uint8_t h[6];
  if (int r = read_transparent(g, h); r != RET_SUCCESS) return r;
  const std::uint64_t record = be16(h), count = g.q.subframes();
  if (g.q.mask_table == kAbsent || record == 0) return RET_SUCCESS;
  if (record < 4 || !fits(g, kMask, g.q.mask_table, count * record)) return RET_FILE_FORMAT;
  if (!g.subframe_offsets.allocate(static_cast<std::size_t>(count))) return RET_NO_MEMORY;
  for (std::uint64_t k = 0; k < count; ++k) {
    std::uint8_t r4[4];
    if (int r = read_in(g, kMask, g.q.mask_table + k * record, 4, r4); r != RET_SUCCESS) return r;
    g.subframe_offsets[k] = be32(r4);
  }
  return RET_SUCCESS;
}

bool stored(const Reading& g, std::uint64_t k) {
  return g.subframe_offsets.empty() || g.subframe_offsets[k] != kAbsent;
}

std::uint64_t subframe_offset(const Reading& g, std::uint64_t k) {
  return g.subframe_offsets.empty() ? k * g.q.subframe_bytes : g.subframe_offsets[k];
}

// Every stored subframe inside the spatial data, before the output exists.
int check_subframes(Reading& g) {
  if (!g.places[kSpatial].listed) return RET_FILE_FORMAT;
  for (std::uint64_t k = 0; k < g.q.subframes(); ++k)
    if (stored(g, k) && !fits(g, kSpatial, subframe_offset(g, k), g.q.subframe_bytes))
      return RET_FILE_FORMAT;
  return RET_SUCCESS;
}

// Raw samples take decoded subframes, not a picture.
int output(Reading& g) {
  return g.c.target ? RET_SUCCESS : create_output_bitmap(g.c);
}

// The frame's colour table: the colormap's first table of at most 256 entries, three
// bytes or more an entry (red, green, blue first) or one or two (grey). It replaces the
// first entries of the palette; the band's LUT keeps the rest (the transparent code
// usually lies just past the table).
int read_colours(const Reading& g, std::uint64_t at, std::uint32_t entries, std::uint32_t element) {
  kernel::Buffer<std::uint8_t> bytes;
  if (!bytes.allocate(std::size_t{entries} * element)) return RET_NO_MEMORY;
  if (int r = read_in(g, kColourMap, at, bytes.size(), bytes.data()); r != RET_SUCCESS) return r;
  std::uint32_t colours[256];
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::uint8_t* e = &bytes[std::size_t{i} * element];
    colours[i] = element >= 3 ? kernel::palette_entry(e[0], e[1], e[2])
                              : kernel::palette_entry(e[0], e[0], e[0]);
  }
  return kernel::put_palette(g.c.out, 0, entries, colours);
}

// Without a colour/grey section the band's LUT (or the grey ramp) stays.
int colours(Reading& g) {
  if (g.c.target) return RET_SUCCESS;
  if (!g.places[kColourGrey].listed && !g.places[kColourMap].listed) return RET_SUCCESS;
  std::uint8_t count = 0, h[6];
  if (int r = read_in(g, kColourGrey, 0, 1, &count); r != RET_SUCCESS) return r;
  if (int r = read_in(g, kColourMap, 0, sizeof h, h); r != RET_SUCCESS) return r;
  const std::uint64_t table = be32(h), record = be16(h + 4);
  if (record < 17) return RET_FILE_FORMAT;
  for (std::uint32_t t = 0; t < count; ++t) {
    std::uint8_t r17[17];
    if (int r = read_in(g, kColourMap, table + t * record, 17, r17); r != RET_SUCCESS) return r;
    const std::uint32_t entries = be32(r17 + 2), element = r17[6];
    if (element >= 1 && entries >= 1 && entries <= 256)
      return read_colours(g, be32(r17 + 9), entries, element);
  }
  return RET_FILE_FORMAT;
}

bool colour_taken(const std::uint32_t* palette, std::uint32_t except, std::uint32_t entry) {
  for (std::uint32_t i = 0; i < 256; ++i)
    if (i != except && palette[i] == entry) return true;
  return false;
}

// The painting leaves pixels out by their colour: the transparent code's entry keeps its
// colour only while no other entry has it, so that no map colour is left out with it.
int set_apart_transparent(Reading& g) {
  if (!g.transparent || g.c.target) return RET_SUCCESS;
  std::uint32_t palette[256] = {};
  kernel::get_palette(g.c.out, 0, 256, palette);
  std::uint32_t entry = palette[g.blank];
  for (std::uint32_t colour = 0; colour_taken(palette, g.blank, entry); ++colour)
    entry = kernel::entry_of_colour(colour);
  return kernel::put_palette(g.c.out, g.blank, 1, &entry);
}

// Codes of `bits` bits (1 to 32) from a subframe's bytes, most significant bit first.
struct Codes {
  const std::uint8_t* data;
  std::uint64_t bit = 0;
  std::uint32_t next(std::uint32_t bits) {
    std::uint64_t value = 0;
    for (std::uint32_t i = 0; i < bits; ++i, ++bit)
      value = value << 1 | (data[bit >> 3] >> (7 - (bit & 7)) & 1);
    return static_cast<std::uint32_t>(value);
  }
};

std::uint8_t* output_row(kernel::Bitmap& out, std::uint64_t y) {
  return kernel::storage_row(out, kernel::top_down_row(out, static_cast<std::int32_t>(y)));
}

int paint_kernel(const Reading& g, kernel::Bitmap& out, std::uint32_t code, std::uint64_t x0,
                 std::uint64_t y0) {
  const Geometry& q = g.q;
  const std::uint8_t* v = g.book.values.data() + std::uint64_t{code} * q.kernel_width;
  const std::uint64_t table = std::uint64_t{g.book.entries} * q.kernel_width;
  for (std::uint32_t t = 0; t < q.kernel_height; ++t, v += table) {
    std::uint8_t* row = output_row(out, y0 + t);
    if (!row) return RET_INVALID_BITMAP;
    std::memcpy(row + x0, v, q.kernel_width);
  }
  return RET_SUCCESS;
}

int paint_subframe(const Reading& g, kernel::Bitmap& out, const std::uint8_t* data,
                   std::uint64_t x0, std::uint64_t y0) {
  const Geometry& q = g.q;
  Codes codes{data};
  for (std::uint32_t cr = 0; cr < q.code_rows; ++cr) {
    for (std::uint32_t cc = 0; cc < q.codes_per_row; ++cc) {
      const std::uint32_t code = codes.next(q.code_bits);
      if (code >= g.book.entries) return RET_FILE_FORMAT;
      if (int r = paint_kernel(g, out, code, x0 + std::uint64_t{cc} * q.kernel_width,
                               y0 + std::uint64_t{cr} * q.kernel_height);
          r != RET_SUCCESS)
        return r;
    }
  }
  return RET_SUCCESS;
}

int fill_blank(const Reading& g, kernel::Bitmap& out, std::uint64_t x0, std::uint64_t y0) {
  for (std::uint32_t y = 0; y < g.q.height; ++y) {
    std::uint8_t* row = output_row(out, y0 + y);
    if (!row) return RET_INVALID_BITMAP;
    std::memset(row + x0, g.blank, g.q.width);
  }
  return RET_SUCCESS;
}

// Subframe k with its top-left corner at (x0, y0) of `out`.
int paint_one(const Reading& g, std::uint64_t k, kernel::Buffer<std::uint8_t>& data,
              kernel::Bitmap& out, std::uint64_t x0, std::uint64_t y0) {
  if (!stored(g, k)) return fill_blank(g, out, x0, y0);
  if (int r = read_in(g, kSpatial, subframe_offset(g, k), data.size(), data.data());
      r != RET_SUCCESS)
    return r;
  return paint_subframe(g, out, data.data(), x0, y0);
}

// A window or a target: only the subframes it wants, each decoded on its own.
int paint_wanted(Reading& g, kernel::Buffer<std::uint8_t>& data) {
  const BlockGrid grid{g.q.across, g.q.down, g.q.width, g.q.height};
  OwnedBitmap block;
  for (std::uint64_t k = 0; k < g.q.subframes(); ++k) {
    if (!block_wanted(g.c, grid, k)) continue;
    if (!block.bitmap.data) {
      if (int r = create_block_bitmap(grid, 8, &block.bitmap); r != RET_SUCCESS) return r;
    }
    if (int r = paint_one(g, k, data, block.bitmap, 0, 0); r != RET_SUCCESS) return r;
    if (int r = hand_block(g.c, grid, k, block.bitmap); r != RET_SUCCESS) return r;
  }
  return RET_SUCCESS;
}

int paint(Reading& g) {
  kernel::Buffer<std::uint8_t> data;
  if (!data.allocate(static_cast<std::size_t>(g.q.subframe_bytes))) return RET_NO_MEMORY;
  if (g.c.target || windowed(g.c)) return paint_wanted(g, data);
  for (std::uint64_t k = 0; k < g.q.subframes(); ++k) {
    const std::uint64_t x0 = k % g.q.across * g.q.width, y0 = k / g.q.across * g.q.height;
    if (int r = paint_one(g, k, data, *g.c.out, x0, y0); r != RET_SUCCESS) return r;
  }
  return RET_SUCCESS;
}

struct Step {
  const char* what;
  int (*run)(Reading&);
};
constexpr Step kSteps[] = {{"image segment", segment},
                           {"location table", locate},
                           {"image description", describe},
                           {"lookup tables", codebook},
                           {"mask subsection", mask},
                           {"subframe offsets", check_subframes},
                           {"output", output},
                           {"colour table", colours},
                           {"transparent code", set_apart_transparent},
                           {"subframes", paint}};

void say(const ImageReadContext& c, const char* what, int code) {
  char line[128];
  std::snprintf(line, sizeof line, "\nread_image: image %u, RPF frame: %s refused (%d)\n", c.index,
                what, code);
  kernel::debug_output(line);
}

}  // namespace

bool is_rpf_frame(const ImageReadContext& c) {
  const NitfImageSubheader& s = *c.subheader;
  return c.document->extended != 0 && !s.appended && !rpfimg(s).empty();
}

bool rpf_transparent_code(const NitfImageSubheader& s, std::uint8_t* code) {
  NitfDocument* d = s.document;
  if (!d || (s.compression != CompressionCode::kC4 && s.compression != CompressionCode::kM4))
    return false;
  const ImageReadContext c{d, s.index, &s, d->header.images.data(s.index), nullptr, nullptr};
  Reading g(c);
  std::uint8_t header[6];
  if (!is_rpf_frame(c) || segment(g) != RET_SUCCESS || locate(g) != RET_SUCCESS ||
      read_transparent(g, header) != RET_SUCCESS)
    return false;
  *code = g.blank;
  return g.transparent;
}

int read_rpf_frame(const ImageReadContext& c) {
  Reading g(c);
  for (const Step& step : kSteps) {
    if (int r = step.run(g); r != RET_SUCCESS) {
      say(c, step.what, r);
      return r;
    }
  }
  return RET_SUCCESS;
}

}  // namespace nitf
