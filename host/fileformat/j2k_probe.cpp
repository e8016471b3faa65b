// A JPEG 2000 stream's image and size marker (SIZ) read without decoding, for a raw
// codestream or the codestream box of a JP2 file. The file information service reports
// from it, and the decoder checks the sizes it declares against the allocation cap
// before OpenJPEG allocates anything for them.
#include <cstring>

#include "decoders.h"
#include "fileformat.h"

namespace fileformat::detail {
namespace {

std::uint32_t be16(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 8 | p[1];
}
std::uint32_t be32(const std::uint8_t* p) {
  return be16(p) << 16 | be16(p + 2);
}
std::uint64_t be64(const std::uint8_t* p) {
  return std::uint64_t{be32(p)} << 32 | be32(p + 4);
}

constexpr std::size_t kSizFixed = 38;  // Lsiz up to Csiz
constexpr std::uint32_t kMaxComponents = 16384;
constexpr std::uint64_t kMaxTiles = 65535;  // tile indices (Isot) are 16 bits

std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) {
  return (a + b - 1) / b;
}

struct Siz {
  std::uint32_t x, y, x0, y0, tw, th, tx0, ty0, components;
};

bool consistent(const Siz& z) {
  return z.x > z.x0 && z.y > z.y0 && z.tw > 0 && z.th > 0 && z.tx0 <= z.x0 && z.ty0 <= z.y0 &&
         std::uint64_t{z.tx0} + z.tw > z.x0 && std::uint64_t{z.ty0} + z.th > z.y0 &&
         z.components >= 1 && z.components <= kMaxComponents;
}

// Reads the per-component fields; false for a zero subsampling.
bool read_components(const std::uint8_t* p, const Siz& z, J2kHeader* h) {
  for (std::uint32_t c = 0; c < z.components; ++c, p += 3) {
    const std::uint32_t precision = (p[0] & 0x7F) + 1u;
    if (p[1] == 0 || p[2] == 0 || precision > 38) return false;
    if (precision > h->precision) h->precision = precision;
    if (c == 0) {
      h->width = static_cast<std::uint32_t>(ceil_div(z.x, p[1]) - ceil_div(z.x0, p[1]));
      h->height = static_cast<std::uint32_t>(ceil_div(z.y, p[2]) - ceil_div(z.y0, p[2]));
    }
  }
  return true;
}

std::int32_t read_siz(ByteView cs, J2kHeader* h) {
  if (cs.size < 4 + kSizFixed || be16(cs.data) != 0xFF4F || be16(cs.data + 2) != 0xFF51)
    return RET_FILE_FORMAT;
  const std::uint8_t* p = cs.data + 4;
  const std::uint32_t length = be16(p);
  const Siz z{be32(p + 4),  be32(p + 8),  be32(p + 12), be32(p + 16), be32(p + 20),
              be32(p + 24), be32(p + 28), be32(p + 32), be16(p + 36)};
  if (!consistent(z) || length != kSizFixed + 3 * std::size_t{z.components} || length > cs.size - 4)
    return RET_FILE_FORMAT;
  *h = J2kHeader{};
  h->components = z.components;
  h->tiles = ceil_div(z.x - z.tx0, z.tw) * ceil_div(z.y - z.ty0, z.th);
  if (h->tiles > kMaxTiles || !read_components(p + kSizFixed, z, h)) return RET_FILE_FORMAT;
  return RET_SUCCESS;
}

// The contents of the JP2 file's codestream box ('jp2c'); an empty view when the boxes
// do not lead there.
ByteView find_codestream(ByteView file) {
  std::size_t pos = 0;
  while (file.size - pos >= 8) {
    const std::uint8_t* box = file.data + pos;
    std::uint64_t length = be32(box);
    std::size_t header = 8;
    if (length == 1) {
      if (file.size - pos < 16) break;
      length = be64(box + 8);
      header = 16;
    } else if (length == 0) {
      length = file.size - pos;  // the last box runs to the end
    }
    if (length < header || length > file.size - pos) break;
    if (std::memcmp(box + 4, "jp2c", 4) == 0)
      return ByteView{box + header, static_cast<std::size_t>(length) - header};
    pos += static_cast<std::size_t>(length);
  }
  return ByteView{};
}

}  // namespace

std::int32_t probe_j2k(ByteView stream, StreamKind kind, J2kHeader* header) {
  *header = J2kHeader{};
  return read_siz(kind == StreamKind::kJp2 ? find_codestream(stream) : stream, header);
}

}  // namespace fileformat::detail
