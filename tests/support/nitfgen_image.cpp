// The test generator's image side.
#include "nitfgen_image.h"

#include "nitfgen_segments.h"

namespace nitfgen {
namespace {

// A field: the ImageShape's raw override when there is one, else the value, at its width.
class Writer {
 public:
  explicit Writer(const ImageShape& layout) : spec_(layout) {}

  void put(const char* name, const std::string& value, std::size_t width) {
    auto it = spec_.fields.find(name);
    out_ += text(it != spec_.fields.end() ? it->second : value, width);
  }
  void put(const char* name, long long value, std::size_t width) {
    auto it = spec_.fields.find(name);
    out_ += it != spec_.fields.end() ? text(it->second, width) : number(value, width);
  }
  void raw(const std::string& bytes) { out_ += bytes; }
  const std::string& bytes() const { return out_; }

 private:
  const ImageShape& spec_;
  std::string out_;
};

void security_group(Writer& w) {
  const struct {
    const char* name;
    std::size_t width;
  } fields[] = {{"ISCLSY", 2}, {"ISCODE", 11}, {"ISCTLH", 2}, {"ISREL", 20}, {"ISDCTP", 2},
                {"ISDCDT", 8}, {"ISDCXM", 4},  {"ISDG", 1},   {"ISDGDT", 8}, {"ISCLTX", 43},
                {"ISCATP", 1}, {"ISCAUT", 40}, {"ISCRSN", 1}, {"ISSRDT", 8}, {"ISCTLN", 15}};
  w.put("ISCLAS", "U", 1);
  for (const auto& f : fields) w.put(f.name, "", f.width);
}

void band_fields(Writer& w, const BandSpec& b) {
  w.raw(text(b.irepband, 2) + text(b.isubcat, 6) + text(b.ifc, 1) + text(b.imflt, 3));
  if (!b.nluts_text.empty()) {
    w.raw(text(b.nluts_text, 1));
  } else {
    w.raw(number(static_cast<long long>(b.luts.size()), 1));
  }
  if (b.luts.empty() && b.nluts_text.empty()) return;
  std::size_t entries = b.luts.empty() ? 0 : b.luts[0].size();
  w.raw(!b.nelut_text.empty() ? text(b.nelut_text, 5) : number(static_cast<long long>(entries), 5));
  for (const std::string& lut : b.luts) w.raw(lut);
}

void bands(Writer& w, const ImageShape& s) {
  long long n = static_cast<long long>(s.bands.size());
  w.put("NBANDS", n > 9 ? 0 : n, 1);
  if (n > 9 || s.fields.count("XBANDS")) w.put("XBANDS", n, 5);
  for (const BandSpec& b : s.bands) band_fields(w, b);
}

void extension(Writer& w, const char* length_name, bool present, const std::string& tres) {
  if (!present) {
    w.put(length_name, 0, 5);
    return;
  }
  w.put(length_name, static_cast<long long>(tres.size() + 3), 5);
  w.raw("000" + tres);
}

// Most significant bit first; finish() pads the last byte.
class Bits {
 public:
  void put(std::uint64_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i, ++used_) {
      if (used_ % 8 == 0) bytes_ += '\0';
      if (value >> i & 1) bytes_.back() = static_cast<char>(bytes_.back() | 0x80 >> used_ % 8);
    }
  }
  std::string finish() {
    used_ = 0;
    return std::move(bytes_);
  }

 private:
  std::string bytes_;
  int used_ = 0;
};

}  // namespace

std::string image_file(const ImageShape& layout, const std::string& pixels) {
  FileSpec file;
  file.images.push_back(image_segment(layout, pixels));
  return build(file);
}

Pixels image_pixels(const ImageShape& s, const SampleAt& sample, std::vector<int> order) {
  const int bands = static_cast<int>(s.bands.size()), blocks = s.nbpr * s.nbpc;
  const int w = s.nppbh ? s.nppbh : static_cast<int>(s.ncols);
  const int h = s.nppbv ? s.nppbv : static_cast<int>(s.nrows);
  const int units = s.imode == "S" ? blocks * bands : blocks;
  const bool p = s.imode == "P", r = s.imode == "R", interleaved = p || r;
  if (order.empty())
    for (int u = 0; u < units; ++u) order.push_back(u);
  Pixels out;
  out.offsets.assign(static_cast<std::size_t>(units), 0xFFFFFFFF);
  Bits bits;
  for (int u : order) {
    out.offsets[static_cast<std::size_t>(u)] = static_cast<std::uint32_t>(out.bytes.size());
    const int k = u % blocks, x0 = k % s.nbpr * w, y0 = k / s.nbpr * h;
    for (int plane = 0; plane < (s.imode == "B" ? bands : 1); ++plane)
      for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * (interleaved ? bands : 1); ++i) {
          const int band = p ? i % bands : r ? i / w : s.imode == "B" ? plane : u / blocks;
          const int x = p ? i / bands : r ? i % w : i;
          bits.put(sample(band, x0 + x, y0 + y), s.nbpp);
        }
    out.bytes += bits.finish();
  }
  return out;
}

std::string location(int row, int column) {
  return number(row, 5) + number(column, 5);
}

std::string image_subheader(const ImageShape& s) {
  Writer w(s);
  w.put("IM", "IM", 2);
  w.put("IID1", "GENERATED", 10);
  w.put("IDATIM", "20261206120000", 14);
  w.put("TGTID", "", 17);
  w.put("IID2", "generated image", 80);
  security_group(w);
  w.put("ENCRYP", 0, 1);
  w.put("ISORCE", "nitfgen", 42);
  w.put("NROWS", s.nrows, 8);
  w.put("NCOLS", s.ncols, 8);
  w.put("PVTYPE", s.pvtype, 3);
  w.put("IREP", s.irep, 8);
  w.put("ICAT", s.icat, 8);
  w.put("ABPP", s.abpp, 2);
  w.put("PJUST", s.pjust, 1);
  w.put("ICORDS", s.icords, 1);
  if (s.icords != " ") w.put("IGEOLO", s.igeolo, 60);
  w.put("NICOM", static_cast<long long>(s.comments.size()), 1);
  for (const std::string& c : s.comments) w.raw(text(c, 80));
  w.put("IC", s.ic, 2);
  if (s.ic != "NC" && s.ic != "NM") w.put("COMRAT", s.comrat, 4);
  bands(w, s);
  w.put("ISYNC", 0, 1);
  w.put("IMODE", s.imode, 1);
  w.put("NBPR", s.nbpr, 4);
  w.put("NBPC", s.nbpc, 4);
  w.put("NPPBH", s.nppbh, 4);
  w.put("NPPBV", s.nppbv, 4);
  w.put("NBPP", s.nbpp, 2);
  w.put("IDLVL", s.idlvl, 3);
  w.put("IALVL", s.ialvl, 3);
  w.put("ILOC", location(s.iloc_row, s.iloc_column), 10);
  w.put("IMAG", s.imag, 4);
  extension(w, "UDIDL", s.has_udid, s.udid);
  extension(w, "IXSHDL", s.has_ixshd, s.ixshd);
  return w.bytes();
}

std::string mask_table(const MaskSpec& m) {
  std::string code = m.tpxcdlnth ? m.tpxcd : "";
  std::size_t records = m.block_records.size() + m.pad_records.size();
  long long offset =
      m.imdatoff >= 0 ? m.imdatoff : static_cast<long long>(10 + code.size() + 4 * records);
  std::string out = big_endian(static_cast<std::uint64_t>(offset), 4) +
                    big_endian(m.block_records.empty() ? 0 : 4, 2) +
                    big_endian(m.pad_records.empty() ? 0 : 4, 2) + big_endian(m.tpxcdlnth, 2) +
                    code;
  for (std::uint32_t r : m.block_records) out += big_endian(r, 4);
  for (std::uint32_t r : m.pad_records) out += big_endian(r, 4);
  return out;
}

Segment image_segment(const ImageShape& layout, const std::string& pixels) {
  std::string data = layout.mask ? mask_table(*layout.mask) : "";
  return {image_subheader(layout), data + pixels};
}

std::string build_streaming(const FileSpec& layout, const std::string& tail) {
  static const std::string delim1("\x0A\x6E\x1D\x97", 4), delim2("\x0E\xCA\x14\xBF", 4);
  // The real header describes the file with its streaming extension; its size, and so
  // the frame's, does not depend on the values in it.
  FileSpec real = layout;
  real.streaming = false;
  DesSpec des;
  des.desid = "STREAMING_FILE_HEADER";
  real.des.push_back({des_subheader_full(des), ""});
  auto frame = [&](const std::string& data) {
    long long n = static_cast<long long>(data.size());
    return number(n, 7) + delim1 + data + delim2 + number(n, 7);
  };
  real.des.back().data = frame(file_header(real) + tail);
  real.des.back().data = frame(file_header(real) + tail);  // FL and LD now final
  // The header as written holds nines for every length: the one build() writes.
  FileSpec marked = layout;
  marked.streaming = true;
  std::string written = build(marked);
  std::string out = written.substr(0, std::stoul(written.substr(354, 6)));
  for (const auto* list : {&real.images, &real.graphics, &real.texts, &real.des, &real.res})
    for (const Segment& s : *list) out += s.subheader + s.data;
  return out;
}

}  // namespace nitfgen
