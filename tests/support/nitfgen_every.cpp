// The generated file with every optional part.
#include "nitfgen_every.h"

#include "nitfgen_image.h"
#include "nitfgen_segments.h"
#include "nitfgen_vq.h"

namespace nitfgen {

Segment vq_segment(bool masked) {
  VqPicture p;
  p.width = p.height = 16;
  p.block_width = p.block_height = 8;
  for (int k = 0; k < 256; ++k) p.pixels.push_back(static_cast<std::uint16_t>((k % 16) / 4 * 40));
  if (masked) p.unrecorded = {false, true, false, false};
  VqData data = vq_image_data(p);
  ImageShape s;
  s.nrows = s.ncols = 16;
  s.nbpr = s.nbpc = 2;
  s.nppbh = s.nppbv = 8;
  s.ic = masked ? "M4" : "C4";
  if (masked) {
    s.mask = MaskSpec{};
    for (std::uint32_t o : data.block_offsets)
      s.mask->block_records.push_back(o == ~0u ? o
                                               : o + static_cast<std::uint32_t>(data.tables_bytes));
  }
  return image_segment(s, data.bytes);
}

FileSpec every_part_file() {
  FileSpec f;
  auto image = [&f](const ImageShape& s, std::size_t bytes) {
    f.images.push_back(image_segment(s, std::string(bytes, '\x5a')));
  };
  ImageShape bands;
  bands.irep = "MULTI";
  bands.bands.assign(12, BandSpec{"M"});
  bands.nrows = bands.ncols = bands.nppbh = bands.nppbv = 4;
  bands.imode = "S";
  image(bands, 12 * 16);
  ImageShape lut = bands;
  lut.irep = "RGB/LUT";
  lut.bands = {BandSpec{"LU"}};
  for (int t = 0; t < 3; ++t) {
    lut.bands[0].luts.emplace_back();
    for (int i = 0; i < 256; ++i) lut.bands[0].luts[t] += static_cast<char>(i * 7 + 85 * t);
  }
  image(lut, 16);
  ImageShape other;
  other.has_ixshd = true;
  other.icords = "G";
  other.igeolo = std::string(60, '1');
  other.comments = {"first comment", "second"};
  other.imag = "/2";
  other.ic = "NM";
  other.mask = MaskSpec{};
  other.mask->block_records = {0};
  other.mask->tpxcdlnth = 8;
  other.mask->tpxcd = std::string(1, '\0');
  image(other, 64);
  ImageShape jp2;
  jp2.ic = "C8";
  jp2.comrat = "N045";
  jp2.imag = "0.25";
  image(jp2, 40);
  f.images.push_back(vq_segment(false));
  f.images.push_back(vq_segment(true));

  GraphicSpec g{{{"SCOLOR", "C"}}, true, tre("GRTRE", "abc")};
  f.graphics.push_back({graphic_subheader(g), "not really CGM"});
  TextSpec t{{}, true, tre("TXTRE", "12345")};
  f.texts.push_back({text_subheader(t), "Some text\r\n"});
  f.texts.push_back({text_subheader(), ""});
  DesSpec overflow, user;
  overflow.desid = "TRE_OVERFLOW";
  overflow.desitem = "001";
  user.desshf = "USERFIELDS";
  f.des.push_back({des_subheader_full(overflow), tre("OVTRE", "xyz")});
  f.des.push_back({des_subheader_full(user), "payload"});
  // RE, RESID, RESVER, RESCLAS, the rest of the security group blank, RESSHL, RESSHF.
  f.res.push_back(
      {"RE" + text("RES_TEST", 25) + "01U" + std::string(166, ' ') + "0005hello", "reserved data"});
  f.has_udhd = f.has_xhd = true;
  f.udhd = tre("UDTRE", "u");
  f.xhd = tre("XHTRE", "xx");
  f.fields["FBKGC"] = std::string("\x01\x00\xfe", 3);
  return f;
}

}  // namespace nitfgen
