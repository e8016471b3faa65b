// Builds vector-quantised image data from a described picture (see nitfgen_vq.h).
#include "nitfgen_vq.h"

#include "nitfgen.h"

#include <map>
#include <stdexcept>

namespace nitfgen {
namespace {

// Most significant bit first, across codes without realignment.
class BitWriter {
 public:
  void put(std::uint32_t code, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      current_ = static_cast<std::uint8_t>(current_ << 1 | (code >> i & 1));
      if (++count_ == 8) {
        bytes_ += static_cast<char>(current_);
        current_ = 0;
        count_ = 0;
      }
    }
  }
  std::string finish() {
    if (count_) bytes_ += static_cast<char>(current_ << (8 - count_));
    count_ = 0;
    current_ = 0;
    return bytes_;
  }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::string bytes_;
  std::uint8_t current_ = 0;
  int count_ = 0;
};

}  // namespace

VqData vq_image_data(const VqPicture& p) {
  using Kernel = std::vector<std::uint16_t>;
  const int kw = p.kernel_width, kh = p.kernel_height;
  const int per_row = p.width / p.block_width, per_column = p.height / p.block_height;
  const int code_rows = p.block_height / kh, codes_per_row = p.block_width / kw;
  std::map<Kernel, std::uint32_t> index;
  std::vector<Kernel> book;
  VqData out;
  BitWriter bits;
  for (int k = 0; k < per_row * per_column; ++k) {
    const bool skip = k < static_cast<int>(p.unrecorded.size()) && p.unrecorded[k];
    if (skip) {
      out.block_offsets.push_back(0xFFFFFFFFu);
      continue;
    }
    out.block_offsets.push_back(static_cast<std::uint32_t>(bits.size()));
    const int bx = k % per_row * p.block_width, by = k / per_row * p.block_height;
    for (int r = 0; r < code_rows; ++r)
      for (int c = 0; c < codes_per_row; ++c) {
        Kernel kernel;
        for (int y = 0; y < kh; ++y)
          for (int x = 0; x < kw; ++x)
            kernel.push_back(
                p.pixels[static_cast<std::size_t>(by + r * kh + y) * p.width + bx + c * kw + x]);
        auto [it, fresh] = index.emplace(kernel, static_cast<std::uint32_t>(book.size()));
        if (fresh) book.push_back(kernel);
        if (p.code_bits < 32 && it->second >= (1u << p.code_bits))
          throw std::runtime_error("codebook larger than the code length allows");
        bits.put(it->second, p.code_bits);
      }
  }
  while (book.size() < p.min_entries) book.emplace_back(static_cast<std::size_t>(kw * kh), 0);
  const std::string codes = bits.finish();
  out.entries = static_cast<std::uint32_t>(book.size());

  const std::uint32_t tables = p.table_count.value_or(static_cast<std::uint32_t>(kh));
  std::string& b = out.bytes;
  b += big_endian(p.code_rows.value_or(static_cast<std::uint32_t>(code_rows)), 4);
  b += big_endian(p.codes_per_row.value_or(static_cast<std::uint32_t>(codes_per_row)), 4);
  b += static_cast<char>(p.code_bit_length.value_or(static_cast<std::uint8_t>(p.code_bits)));
  b += big_endian(1, 2);       // algorithm: NITF VQ
  b += big_endian(tables, 2);  // lookup offset record count
  b += big_endian(0, 2);       // parameter offset record count
  b += big_endian(6, 4);       // lookup offset table offset
  b += big_endian(14, 2);      // lookup offset record length
  const int value_bytes = p.value_bits > 8 ? 2 : 1;
  const std::uint32_t table_length = out.entries * static_cast<std::uint32_t>(kw * value_bytes);
  for (std::uint32_t t = 0; t < tables; ++t) {
    b += big_endian(t + 1, 2);
    const std::uint32_t count = p.table_entries.value_or(out.entries);
    b += big_endian(t == 0 ? p.first_table_entries.value_or(count) : count, 4);
    b += big_endian(static_cast<std::uint32_t>(kw), 2);
    b += big_endian(static_cast<std::uint32_t>(p.value_bits), 2);
    b += big_endian(tables * 14 + t * table_length, 4);
  }
  // Table t: row t of every kernel (rows past the kernel are zero).
  for (std::uint32_t t = 0; t < tables; ++t)
    for (const Kernel& kernel : book)
      for (int x = 0; x < kw; ++x) {
        const std::uint16_t v =
            static_cast<int>(t) < kh ? kernel[static_cast<std::size_t>(t) * kw + x] : 0;
        if (value_bytes == 2)
          b += big_endian(v, 2);
        else
          b += static_cast<char>(v);
      }
  out.tables_bytes = b.size();
  out.code_bytes = codes.size();
  b += codes;
  return out;
}

}  // namespace nitfgen
