// Inside the uncompressed image reader: block geometry, where each band of each block
// lies in the data, and the walk that reads blocks in large pieces and hands them on one
// row at a time.
//
// Every size here comes from the file. describe_blocks checks the products for overflow
// and the whole extent the walk will read against LI and against the file before the
// reader allocates anything, so the walk itself can only fail on a short read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "image/imsubhdr.h"
#include "kernel.h"

namespace nitf::imgdata {

// NBPR, NBPC, NPPBH, NPPBV with a 0 block size resolved to NCOLS or NROWS (which
// MIL-STD-2500C allows when there is one block per row or column).
struct BlockGrid {
  std::uint32_t per_row = 0, per_column = 0, width = 0, height = 0;
};

// RET_FILE_FORMAT for a negative count or size.
int block_grid(const NitfImageSubheader& subheader, BlockGrid* grid);

// What of the grid is the picture on the canvas: all of it, pad pixels included, or for
// extended reading (`cut`) no more than NCOLS x NROWS (a 0 leaves its side whole), since
// pad pixels outside them are not part of the picture.
struct PictureSize {
  std::int64_t width = 0, height = 0;
};
PictureSize picture_size(const NitfImageSubheader& subheader, const BlockGrid& grid, bool cut);

// One band of one block is a "plane": width x height samples of `bits` bits, rows one
// after the other without padding, starting on a byte. In IMODE P and R with more than
// one band the planes of a block share its rows (interleaved).
struct BlockLayout {
  BlockGrid grid;
  std::uint32_t bands = 0;  // band count
  std::uint32_t bits = 0;   // NBPP
  ImageModeCode mode = ImageModeCode::kBlock;
  bool interleaved = false;
  std::uint64_t blocks = 0;       // NBPR x NBPC
  std::uint64_t row_bits = 0;     // one row of one plane
  std::uint64_t plane_bytes = 0;  // one plane
  std::uint64_t block_bytes = 0;  // every plane of one block
  std::uint64_t pixels = 0;       // IMDATOFF: where the blocks start in the data
  std::uint64_t data_length = 0;  // LI
  const ImageMaskTable* mask = nullptr;
  std::uint32_t planes[3] = {};  // the bands read
  std::uint32_t plane_count = 0;
};

// Fills the layout for reading `plane_count` bands of an uncompressed image whose data
// are `data_length` bytes, of which `available` are in the file. RET_FILE_FORMAT when
// the geometry overflows or a recorded block lies partly beyond LI, RET_FILE_READ when
// the file ends before the last byte to be read, RET_NOT_SUPPORTED for bit-packed bands
// interleaved by pixel or row, RET_FAILURE for an IMODE code above 3.
int describe_blocks(const NitfImageSubheader& subheader, std::uint64_t data_length,
                    std::uint64_t available, const std::uint32_t* planes, std::uint32_t plane_count,
                    BlockLayout* layout);

// Where the image data are: the document's file from a position, or bytes in memory
// (an image appended to the document and not saved yet).
struct DataSource {
  int file = -1;
  std::int64_t start = 0;
  const std::uint8_t* bytes = nullptr;
  std::uint64_t size = 0;

  // `count` bytes from `offset` of the data: RET_FILE_READ when fewer arrive.
  int read(std::uint64_t offset, std::size_t count, std::uint8_t* buffer) const;
};

// One shown band's samples of the current row: sample x starts at bit
// first_bit + x * pixel_bits of data.
struct PlaneRow {
  const std::uint8_t* data;
  std::uint64_t first_bit;
  std::uint32_t pixel_bits;
};

// What the walk calls: row() for every row y of a recorded block k, top to bottom, with
// one PlaneRow per shown band; block() once the block's rows are done. A result other
// than RET_SUCCESS ends the walk with it. With `wants`, a block it refuses is not read.
// With `rows`, only the block's rows [*first, *end) it narrows the block's height to are
// read and handed on (a window's rows: the rest of the block stays in the file).
struct BlockSink {
  void* self;
  int (*row)(void* self, std::uint64_t k, std::uint32_t y, const PlaneRow* planes);
  int (*block)(void* self, std::uint64_t k);
  bool (*wants)(void* self, std::uint64_t k) = nullptr;
  void (*rows)(void* self, std::uint64_t k, std::uint32_t* first, std::uint32_t* end) = nullptr;
};

// For a `rows` callback: the rows [from, to) of the image narrowed to those of a block
// whose first row is image row `top` and whose rows are [*first, *end) (block rows).
inline void rows_within(std::uint64_t top, std::uint64_t from, std::uint64_t to,
                        std::uint32_t* first, std::uint32_t* end) {
  const std::uint64_t bottom = top + *end;
  *first = static_cast<std::uint32_t>(std::clamp(from, top, bottom) - top);
  *end = static_cast<std::uint32_t>(std::clamp(to, top, bottom) - top);
}

// Reads every recorded block in order, in pieces of at most about 4 MiB (whole rows; for
// bit-packed rows, whole groups of rows that end on a byte), and feeds the sink. Blocks
// that the mask leaves out are passed over.
int walk_blocks(const BlockLayout& layout, const DataSource& source, const BlockSink& sink);

}  // namespace nitf::imgdata
