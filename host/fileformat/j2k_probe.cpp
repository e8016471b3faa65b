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
  std::uint32_t sampling[3] = {};  // XRsiz << 8 | YRsiz of components 0 to 2
  for (std::uint32_t c = 0; c < z.components; ++c, p += 3) {
    const std::uint32_t precision = (p[0] & 0x7F) + 1u;
    if (p[1] == 0 || p[2] == 0 || precision > 38) return false;
    if (precision > h->precision) h->precision = precision;
    if (c < 3) sampling[c] = std::uint32_t{p[1]} << 8 | p[2];
    if (c == 0) {
      h->width = static_cast<std::uint32_t>(ceil_div(z.x, p[1]) - ceil_div(z.x0, p[1]));
      h->height = static_cast<std::uint32_t>(ceil_div(z.y, p[2]) - ceil_div(z.y0, p[2]));
    }
  }
  // Y at full size and chroma in full, halved across, or halved both ways: the layouts
  // OpenJPEG's tools convert. Three components with subsampled chroma are taken as YCC.
  const std::uint32_t chroma = sampling[1];
  h->ycc_layout = z.components >= 3 && sampling[0] == 0x0101 && sampling[2] == chroma &&
                  (chroma == 0x0101 || chroma == 0x0201 || chroma == 0x0202);
  h->ycc = h->ycc_layout && z.components == 3 && chroma != 0x0101;
  return true;
}

std::int32_t read_siz(ByteView cs, J2kHeader* h, Siz* siz) {
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
  *siz = z;
  return RET_SUCCESS;
}

// The contents of the first box of `type` among the boxes of `file`; an empty view when
// the boxes do not lead there.
ByteView find_box(ByteView file, const char* type) {
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
    if (std::memcmp(box + 4, type, 4) == 0)
      return ByteView{box + header, static_cast<std::size_t>(length) - header};
    pos += static_cast<std::size_t>(length);
  }
  return ByteView{};
}

constexpr std::uint32_t kEnumeratedSycc = 18;

// What the JP2 header box says beside the codestream: its image header's size and
// component count against SIZ's, and a colour box of sYCC.
void read_jp2_header(ByteView file, const Siz& z, J2kHeader* h) {
  const ByteView header = find_box(file, "jp2h");
  const ByteView ihdr = find_box(header, "ihdr");
  if (ihdr.size >= 10)
    h->header_disagrees = be32(ihdr.data) != z.y - z.y0 || be32(ihdr.data + 4) != z.x - z.x0 ||
                          be16(ihdr.data + 8) != z.components;
  const ByteView colr = find_box(header, "colr");
  if (colr.size >= 7 && colr.data[0] == 1 && be32(colr.data + 3) == kEnumeratedSycc)
    h->ycc = h->ycc_layout;
}

}  // namespace

std::int32_t probe_j2k(ByteView stream, StreamKind kind, J2kHeader* header) {
  *header = J2kHeader{};
  const ByteView codestream = kind == StreamKind::kJp2 ? find_box(stream, "jp2c") : stream;
  Siz z{};
  const std::int32_t result = read_siz(codestream, header, &z);
  if (result != RET_SUCCESS) return result;
  header->codestream = codestream;
  if (kind == StreamKind::kJp2) read_jp2_header(stream, z, header);
  return RET_SUCCESS;
}

std::int32_t probe_decoded_j2k(ByteView* stream, StreamKind* kind, J2kHeader* header) {
  const std::int32_t result = probe_j2k(*stream, *kind, header);
  if (result != RET_SUCCESS || *kind != StreamKind::kJp2 || !header->header_disagrees)
    return result;
  *stream = header->codestream;
  *kind = StreamKind::kCodestream;
  return probe_j2k(*stream, *kind, header);
}

}  // namespace fileformat::detail
