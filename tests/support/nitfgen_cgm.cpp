// CGM elements for the test generator.
#include "nitfgen_cgm.h"

#include <algorithm>

namespace nitfgen::cgm {

void put16(Bytes& b, std::int32_t v) {
  b.push_back(std::uint8_t((v >> 8) & 0xFF));
  b.push_back(std::uint8_t(v & 0xFF));
}

void put32(Bytes& b, std::int64_t v) {
  put16(b, std::int32_t((v >> 16) & 0xFFFF));
  put16(b, std::int32_t(v & 0xFFFF));
}

Bytes i16s(std::initializer_list<std::int32_t> values) {
  Bytes b;
  for (std::int32_t v : values) put16(b, v);
  return b;
}

Bytes str(const std::string& s) {
  Bytes b;
  if (s.size() < 255) {
    b.push_back(std::uint8_t(s.size()));
  } else {
    b.push_back(255);
    put16(b, std::int32_t(s.size()));  // one long-form piece, no continuation
  }
  b.insert(b.end(), s.begin(), s.end());
  return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes element(int cls, int id, const Bytes& params, bool force_long) {
  Bytes b;
  if (params.size() < 31 && !force_long) {
    put16(b, cls << 12 | id << 5 | int(params.size()));
  } else {
    put16(b, cls << 12 | id << 5 | 31);
    put16(b, int(params.size()));
  }
  b.insert(b.end(), params.begin(), params.end());
  if (params.size() & 1) b.push_back(0xAA);
  return b;
}

Bytes partitioned(int cls, int id, const Bytes& params, std::initializer_list<std::size_t> sizes) {
  std::vector<std::size_t> pieces(sizes);
  std::size_t given = 0;
  for (std::size_t s : sizes) given += s;
  pieces.push_back(params.size() - std::min(params.size(), given));
  Bytes b;
  put16(b, cls << 12 | id << 5 | 31);
  std::size_t at = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const bool more = i + 1 < pieces.size();
    put16(b, (more ? 0x8000 : 0) | int(pieces[i]));
    b.insert(b.end(), params.begin() + long(at), params.begin() + long(at + pieces[i]));
    if (pieces[i] & 1) b.push_back(0xAA);
    at += pieces[i];
  }
  return b;
}

Bytes begin_metafile() {
  return element(0, 1, str("test"));
}
Bytes end_metafile() {
  return element(0, 2, {});
}
Bytes begin_picture(const std::string& name) {
  return element(0, 3, str(name));
}
Bytes picture_body() {
  return element(0, 4, {});
}
Bytes end_picture() {
  return element(0, 5, {});
}

Bytes metafile(const Bytes& body, const Bytes& descriptors, const Bytes& header) {
  return cat({begin_metafile(), header, begin_picture(), descriptors, picture_body(), body,
              end_picture(), end_metafile()});
}

Bytes vdc_extent(int x0, int y0, int x1, int y1) {
  return element(2, 6, i16s({x0, y0, x1, y1}));
}
Bytes line_colour(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return element(5, 4, {r, g, b});
}
Bytes fill_colour(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return element(5, 23, {r, g, b});
}
Bytes edge_colour(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return element(5, 29, {r, g, b});
}
Bytes line_width(int width) {
  // A real in the default fixed-point precision: 16 bits whole, 16 bits fraction.
  Bytes b;
  put32(b, std::int64_t{width} << 16);
  return element(5, 3, b);
}
Bytes interior_style(int style) {
  return element(5, 22, i16s({style}));
}
Bytes polyline(std::initializer_list<std::int32_t> xy) {
  return element(4, 1, i16s(xy));
}
Bytes rectangle(int x0, int y0, int x1, int y1) {
  return element(4, 11, i16s({x0, y0, x1, y1}));
}
Bytes circle(int x, int y, int radius) {
  return element(4, 12, i16s({x, y, radius}));
}

std::string nitf_graphic(const Bytes& body, int width, int height) {
  const Bytes direct_colour = element(2, 2, i16s({1}));
  const Bytes m = metafile(body, cat({direct_colour, vdc_extent(0, height, width, 0)}));
  return std::string(m.begin(), m.end());
}

}  // namespace nitfgen::cgm
