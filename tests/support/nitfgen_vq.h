// The test generator's vector-quantised side: C4/M4 image data (header, lookup offset
// records, lookup tables, the code stream) made from a picture the test describes.
//
// The picture is cut into blocks and kernels; every distinct kernel becomes a codebook
// entry, table t holds row t of every entry, and the codes of the recorded blocks are
// packed most significant bit first without realignment. It is written from the file
// layout alone, independently of the module's reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nitfgen {

struct VqPicture {
  int width = 0, height = 0;          // the whole block grid
  std::vector<std::uint16_t> pixels;  // width x height, row by row
  int block_width = 0, block_height = 0;
  int kernel_width = 4, kernel_height = 4;
  int code_bits = 8;
  int value_bits = 8;  // above 8: two big-endian bytes per table value
  // Blocks in grid order that are left out (no codes); empty means all recorded.
  std::vector<bool> unrecorded;
  // Codebook padded with zero kernels to this many entries (when larger).
  std::uint32_t min_entries = 0;

  // Raw replacements for the header's fields (broken files).
  std::optional<std::uint32_t> code_rows, codes_per_row, table_count;
  // Entry counts written in the first record, or in every record (the tables' bytes
  // still hold the real codebook).
  std::optional<std::uint32_t> first_table_entries, table_entries;
  std::optional<std::uint8_t> code_bit_length;
};

struct VqData {
  std::string bytes;                         // header, records, tables, codes
  std::size_t code_bytes = 0;                // length of the code stream
  std::size_t tables_bytes = 0;              // header + records + tables
  std::uint32_t entries = 0;                 // codebook size
  std::vector<std::uint32_t> block_offsets;  // per block, offset of its codes, or ~0u
};

// Throws std::runtime_error when the codebook does not fit the code length.
VqData vq_image_data(const VqPicture& picture);

}  // namespace nitfgen
