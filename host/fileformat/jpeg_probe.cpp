// A JPEG stream's markers read without decoding: the frame header, the restart interval
// and the JFIF and Adobe markers that decide how three components are read. The file
// information service reports from this, and the decoder uses it to choose the library
// (libjpeg-turbo, or an IJG build for 12-bit and lossless streams) and to refuse what
// none decodes before a library sees it. Every length is checked against what is left
// of the stream.
#include <cstring>

#include "decoders.h"
#include "fileformat.h"

namespace fileformat::detail {
namespace {

std::uint32_t be16(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 8 | p[1];
}

bool is_frame_marker(std::uint8_t m) {
  return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// Markers without a length: TEM, RST0 to RST7, SOI.
bool is_standalone(std::uint8_t m) {
  return m == 0x01 || (m >= 0xD0 && m <= 0xD8);
}

bool read_frame(const std::uint8_t* body, std::size_t length, std::uint8_t marker, JpegHeader* h) {
  if (length < 6) return false;
  const std::uint32_t components = body[5];
  if (components == 0 || length < 6 + 3 * std::size_t{components}) return false;
  h->sof = marker;
  h->precision = body[0];
  h->height = be16(body + 1);
  h->width = be16(body + 3);
  h->components = components;
  for (std::uint32_t i = 0; i < components && i < 4; ++i) h->ids[i] = body[6 + 3 * i];
  return h->width > 0;  // a height of 0 (a DNL marker later) is libjpeg's to refuse
}

void read_application(const std::uint8_t* body, std::size_t length, std::uint8_t marker,
                      JpegHeader* h) {
  // The lengths libjpeg requires before it believes these markers.
  if (marker == 0xE0 && length >= 14 && std::memcmp(body, "JFIF\0", 5) == 0) h->jfif = true;
  if (marker == 0xEE && length >= 12 && std::memcmp(body, "Adobe", 5) == 0) {
    h->adobe = true;
    h->adobe_transform = body[11];
  }
}

// Reads one marker segment's body; false ends the walk.
bool read_segment(std::uint8_t marker, const std::uint8_t* body, std::size_t length,
                  JpegHeader* h) {
  if (is_frame_marker(marker)) return h->sof == 0 && read_frame(body, length, marker, h);
  if (marker == 0xDD) {
    if (length >= 2) h->restart = be16(body) != 0;
    return true;
  }
  read_application(body, length, marker, h);
  return true;
}

// A scan header's component selectors, each named once.
bool distinct_components(const std::uint8_t* body, std::size_t length) {
  if (length < 1) return true;
  const std::size_t count = body[0];
  bool seen[256] = {};
  for (std::size_t i = 0; i < count && 1 + 2 * i < length; ++i) {
    if (seen[body[1 + 2 * i]]) return false;
    seen[body[1 + 2 * i]] = true;
  }
  return true;
}

}  // namespace

std::int32_t probe_jpeg(ByteView s, JpegHeader* header) {
  *header = JpegHeader{};
  if (s.size < 2 || s.data[0] != 0xFF || s.data[1] != 0xD8) return RET_FILE_FORMAT;
  std::size_t pos = 2;
  while (pos < s.size) {
    // libjpeg skips stray bytes before a marker with a warning; so do we.
    while (pos < s.size && s.data[pos] != 0xFF) ++pos;
    while (pos < s.size && s.data[pos] == 0xFF) ++pos;  // fill bytes
    if (pos >= s.size) break;
    const std::uint8_t marker = s.data[pos++];
    if (is_standalone(marker) || marker == 0x00) continue;
    if (marker == 0xD9 || marker == 0xDA) break;  // end of image, or the first scan
    if (s.size - pos < 2) break;
    const std::uint32_t length = be16(s.data + pos);
    if (length < 2 || length > s.size - pos) return RET_FILE_FORMAT;
    if (!read_segment(marker, s.data + pos + 2, length - 2, header)) return RET_FILE_FORMAT;
    pos += length;
  }
  return header->sof ? RET_SUCCESS : RET_FILE_FORMAT;
}

bool jpeg_scans_distinct(ByteView s) {
  std::size_t pos = 2;
  while (pos < s.size) {
    // Entropy-coded data hold no marker but restarts: a 0xFF there is followed by 0.
    while (pos < s.size && s.data[pos] != 0xFF) ++pos;
    while (pos < s.size && s.data[pos] == 0xFF) ++pos;
    if (pos >= s.size) break;
    const std::uint8_t marker = s.data[pos++];
    if (is_standalone(marker) || marker == 0x00) continue;
    if (marker == 0xD9 || s.size - pos < 2) break;
    const std::uint32_t length = be16(s.data + pos);
    if (length < 2 || length > s.size - pos) break;  // the library's to refuse
    if (marker == 0xDA && !distinct_components(s.data + pos + 2, length - 2)) return false;
    pos += length;
  }
  return true;
}

bool jpeg_states_ycc(const JpegHeader& h) {
  return h.jfif || (h.adobe && h.adobe_transform == 1);
}

bool jpeg_reads_ycc(const JpegHeader& h) {
  if (h.jfif) return true;
  if (h.adobe) return h.adobe_transform != 0;
  return !(h.ids[0] == 'R' && h.ids[1] == 'G' && h.ids[2] == 'B');
}

std::int32_t jpeg_format(const JpegHeader& h) {
  switch (h.sof) {
    case 0xC3:
    case 0xCB:
      return kFormatJpegLossless;
    case 0xC5:
    case 0xC6:
    case 0xC7:
    case 0xCD:
    case 0xCE:
    case 0xCF:
      return kFormatJpegHierarchical;
    default:
      break;
  }
  if (h.precision != 8) return kFormatJpeg12Bit;
  if (h.sof == 0xC2 || h.sof == 0xCA) return kFormatJpegProgressive;
  if (h.restart) return kFormatJpegRestart;
  if (h.components == 1) return kFormatJpegGrey;
  if (h.components == 3) return jpeg_reads_ycc(h) ? kFormatJpegYcc : kFormatJpegRgb;
  return kFormatJpegMulti;
}

}  // namespace fileformat::detail
