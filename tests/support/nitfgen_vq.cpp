// Builds vector-quantised image data from a described picture (see nitfgen_vq.h).
#include "nitfgen_vq.h"

#include <map>
#include <stdexcept>

namespace nitfgen {
namespace {

void put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v >> 8 & 0xFF);
  out += static_cast<char>(v & 0xFF);
}
void put32(std::string& out, std::uint32_t v) {
  put16(out, v >> 16);
  put16(out, v & 0xFFFF);
}

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
  put32(b, p.code_rows.value_or(static_cast<std::uint32_t>(code_rows)));
  put32(b, p.codes_per_row.value_or(static_cast<std::uint32_t>(codes_per_row)));
  b += static_cast<char>(p.code_bit_length.value_or(static_cast<std::uint8_t>(p.code_bits)));
  put16(b, 1);       // algorithm: NITF VQ
  put16(b, tables);  // lookup offset record count
  put16(b, 0);       // parameter offset record count
  put32(b, 6);       // lookup offset table offset
  put16(b, 14);      // lookup offset record length
  const int value_bytes = p.value_bits > 8 ? 2 : 1;
  const std::uint32_t table_length = out.entries * static_cast<std::uint32_t>(kw * value_bytes);
  for (std::uint32_t t = 0; t < tables; ++t) {
    put16(b, t + 1);
    const std::uint32_t count = p.table_entries.value_or(out.entries);
    put32(b, t == 0 ? p.first_table_entries.value_or(count) : count);
    put16(b, static_cast<std::uint32_t>(kw));
    put16(b, static_cast<std::uint32_t>(p.value_bits));
    put32(b, tables * 14 + t * table_length);
  }
  // Table t: row t of every kernel (rows past the kernel are zero).
  for (std::uint32_t t = 0; t < tables; ++t)
    for (const Kernel& kernel : book)
      for (int x = 0; x < kw; ++x) {
        const std::uint16_t v =
            static_cast<int>(t) < kh ? kernel[static_cast<std::size_t>(t) * kw + x] : 0;
        if (value_bytes == 2)
          put16(b, v);
        else
          b += static_cast<char>(v);
      }
  out.tables_bytes = b.size();
  out.code_bytes = codes.size();
  b += codes;
  return out;
}

}  // namespace nitfgen
