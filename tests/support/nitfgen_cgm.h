// The test generator's CGM: binary-encoded metafiles built element by element, so that
// tests can say exactly which header form, padding or partition a reader meets.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace nitfgen::cgm {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::int32_t v);
void put32(Bytes& b, std::int64_t v);
Bytes i16s(std::initializer_list<std::int32_t> values);
// A CGM string: a length byte (255 and a 16-bit length for long ones), then the bytes.
Bytes str(const std::string& s);
Bytes cat(std::initializer_list<Bytes> parts);

// The short form below 31 bytes, the long form otherwise (or when asked). The pad byte
// is 0xAA so that a reader taking it for data goes wrong visibly.
Bytes element(int cls, int id, const Bytes& params, bool force_long = false);
// A long form cut into pieces of the given sizes (the last takes the rest).
Bytes partitioned(int cls, int id, const Bytes& params, std::initializer_list<std::size_t> sizes);

Bytes begin_metafile();
Bytes end_metafile();
Bytes begin_picture(const std::string& name = "p");
Bytes picture_body();
Bytes end_picture();
// A whole metafile: one picture holding `body` after `descriptors`.
Bytes metafile(const Bytes& body, const Bytes& descriptors = {}, const Bytes& header = {});

// Picture elements with 16-bit VDC and 8-bit direct colour (the defaults).
Bytes vdc_extent(int x0, int y0, int x1, int y1);
Bytes line_colour(std::uint8_t r, std::uint8_t g, std::uint8_t b);
Bytes fill_colour(std::uint8_t r, std::uint8_t g, std::uint8_t b);
Bytes edge_colour(std::uint8_t r, std::uint8_t g, std::uint8_t b);
Bytes line_width(int width);      // in the default scaled mode: a multiple of one pixel
Bytes interior_style(int style);  // 0 hollow, 1 solid, 3 hatch, 4 empty
Bytes polyline(std::initializer_list<std::int32_t> xy);
Bytes rectangle(int x0, int y0, int x1, int y1);
Bytes circle(int x, int y, int radius);

// A conformant NITF graphic: direct colour, and the VDC extent runs downward from (0, height) to
// (width, 0) the way producers write it, so a VDC y is a row below SLOC.
std::string nitf_graphic(const Bytes& body, int width, int height);

}  // namespace nitfgen::cgm
