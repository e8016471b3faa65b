// The test generator.
#include "nitfgen.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "nitfgen_segments.h"

namespace nitfgen {
namespace {

// FHDR to OPHONE with the values a plain file carries.
const std::vector<Field> kLeading = {
    {"FHDR", 4, false, "NITF"},
    {"FVER", 5, false, "02.10"},
    {"CLEVEL", 2, true, "03"},
    {"STYPE", 4, false, "BF01"},
    {"OSTAID", 10, false, "KVNTFGEN"},
    {"FDT", 14, true, "20261206120000"},
    {"FTITLE", 80, false, ""},
    {"FSCLAS", 1, false, "U"},
    {"FSCLSY", 2, false, ""},
    {"FSCODE", 11, false, ""},
    {"FSCTLH", 2, false, ""},
    {"FSREL", 20, false, ""},
    {"FSDCTP", 2, false, ""},
    {"FSDCDT", 8, false, ""},
    {"FSDCXM", 4, false, ""},
    {"FSDG", 1, false, ""},
    {"FSDGDT", 8, false, ""},
    {"FSCLTX", 43, false, ""},
    {"FSCATP", 1, false, ""},
    {"FSCAUT", 40, false, ""},
    {"FSCRSN", 1, false, ""},
    {"FSSRDT", 8, false, ""},
    {"FSCTLN", 15, false, ""},
    {"FSCOP", 5, true, "00000"},
    {"FSCPYS", 5, true, "00000"},
    {"ENCRYP", 1, true, "0"},
    {"FBKGC", 3, false, "\xff\xff\xff"},
    {"ONAME", 24, false, ""},
    {"OPHONE", 18, false, ""},
};

std::string nines(std::size_t width) {
  return std::string(width, '9');
}

// The header; `hide` writes the streaming markers in place of the real lengths.
std::string header_bytes(const FileSpec& layout, const std::vector<Segment>& des,
                         long long file_length, bool hide) {
  std::string h = fields(kLeading, layout.fields);
  std::string rest = lengths(layout.images, 6, 10, hide, hide) +
                     lengths(layout.graphics, 4, 6, hide, false) + "000" +
                     lengths(layout.texts, 4, 5, hide, false) + lengths(des, 4, 9, hide, hide) +
                     lengths(layout.res, 4, 7) + extension_area(layout.has_udhd, layout.udhd) +
                     extension_area(layout.has_xhd, layout.xhd);
  long long hl = static_cast<long long>(h.size() + 12 + 6 + rest.size());
  h += hide ? nines(12) : number(file_length, 12);
  h += number(hl, 6);
  return h + rest;
}

std::string body(const FileSpec& layout, const std::vector<Segment>& des) {
  std::string out;
  for (const auto* list : {&layout.images, &layout.graphics, &layout.texts, &des, &layout.res})
    for (const Segment& s : *list) out += s.subheader + s.data;
  return out;
}

// A data extension subheader (DESSHL 0000) with the given DESID.
std::string des_subheader(const std::string& desid) {
  DesSpec des;
  des.desid = desid;
  return des_subheader_full(des);
}

}  // namespace

std::string fields(const std::vector<Field>& table, const FieldValues& values) {
  for (const auto& [name, value] : values)
    if (std::none_of(table.begin(), table.end(), [&](const Field& f) { return name == f.name; }))
      throw std::invalid_argument("nitfgen: no field " + name + " here");
  std::string out;
  for (const Field& f : table) {
    auto it = values.find(f.name);
    const std::string value = it != values.end() ? it->second : f.value;
    if (value.size() >= f.width)
      out += value.substr(0, f.width);
    else if (f.numeric)
      out += std::string(f.width - value.size(), '0') + value;
    else
      out += text(value, f.width);
  }
  return out;
}

std::string extension_area(bool present, const std::string& bytes) {
  if (!present) return "00000";
  return number(static_cast<long long>(bytes.size() + 3), 5) + "000" + bytes;
}

std::string lengths(const std::vector<Segment>& segments, std::size_t sw, std::size_t dw,
                    bool hide_sub, bool hide_data) {
  std::string out = number(static_cast<long long>(segments.size()), 3);
  for (const Segment& s : segments) {
    out += hide_sub ? nines(sw) : number(static_cast<long long>(s.subheader.size()), sw);
    out += hide_data ? nines(dw) : number(static_cast<long long>(s.data.size()), dw);
  }
  return out;
}

std::string text(const std::string& value, std::size_t width) {
  if (value.size() >= width) return value.substr(0, width);
  return value + std::string(width - value.size(), ' ');
}

std::string number(long long value, std::size_t width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (digits.size() < width - (value < 0 ? 1 : 0))
    digits = std::string(width - (value < 0 ? 1 : 0) - digits.size(), '0') + digits;
  return (value < 0 ? "-" : "") + digits;
}

std::string big_endian(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string tre(const std::string& tag, const std::string& data) {
  return text(tag, 6) + number(static_cast<long long>(data.size()), 5) + data;
}

std::string file_header(const FileSpec& layout) {
  std::string probe = header_bytes(layout, layout.des, 0, false);
  long long total = static_cast<long long>(probe.size() + body(layout, layout.des).size());
  return header_bytes(layout, layout.des, total, false);
}

std::string build(const FileSpec& layout) {
  if (!layout.streaming) return file_header(layout) + body(layout, layout.des);

  // The streaming frame closes the file: its data holds the real header, whose size
  // does not depend on the values in it.
  std::vector<Segment> des = layout.des;
  des.push_back({des_subheader("STREAMING_FILE_HEADER"), ""});
  std::string real = header_bytes(layout, des, 0, false);
  std::string frame_head = number(static_cast<long long>(real.size()), 7) + "\x0A\x6E\x1D\x97";
  std::string frame_tail = "\x0E\xCA\x14\xBF" + number(static_cast<long long>(real.size()), 7);
  des.back().data = frame_head + real + frame_tail;
  long long total = static_cast<long long>(real.size() + body(layout, des).size());
  real = header_bytes(layout, des, total, false);
  des.back().data = frame_head + real + frame_tail;
  return header_bytes(layout, des, total, true) + body(layout, des);
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace nitfgen
