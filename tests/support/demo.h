// The demo file: what ./run.sh shows a new user. It grows as the module learns more.
//
// Two uncompressed images make one picture: a colour gradient on the common coordinate
// system and a grey ring pattern attached to it (IALVL = the gradient's IDLVL) at an
// ILOC that takes it past the gradient's corner, drawn on top by its higher display
// level. The canvas (240 x 176) shows the file's background colour where neither lies.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "nitfgen.h"
#include "nitfgen_image.h"
#include "nitfgen_segments.h"

namespace nitfgen {

// The gradient: red grows to the right, green downwards, blue fixed; pixel interleaved.
inline Segment demo_gradient() {
  ImageSpec spec;
  spec.nrows = 128;
  spec.ncols = 192;
  spec.irep = "RGB";
  spec.bands = {BandSpec{"R"}, BandSpec{"G"}, BandSpec{"B"}};
  spec.imode = "P";
  spec.nppbh = 192;
  spec.nppbv = 128;
  spec.idlvl = 1;
  spec.ialvl = 0;
  spec.iloc_row = 0;
  spec.iloc_column = 0;
  spec.fields["IID1"] = "GRADIENT";
  std::string pixels;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 192; ++x) {
      pixels += static_cast<char>(x * 255 / 191);
      pixels += static_cast<char>(y * 255 / 127);
      pixels += static_cast<char>(160);
    }
  }
  return image_segment(spec, pixels);
}

// The rings: dark and light rings 6 pixels wide around the centre.
inline Segment demo_rings() {
  ImageSpec spec;
  spec.nrows = 96;
  spec.ncols = 96;
  spec.nppbh = 96;
  spec.nppbv = 96;
  spec.idlvl = 2;
  spec.ialvl = 1;
  spec.iloc_row = 80;
  spec.iloc_column = 144;
  spec.fields["IID1"] = "RINGS";
  std::string pixels;
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 96; ++x) {
      int dx = x - 48, dy = y - 48;
      int ring = static_cast<int>(std::sqrt(dx * dx + dy * dy)) / 6;
      pixels += static_cast<char>(ring % 2 ? 235 : 30);
    }
  }
  return image_segment(spec, pixels);
}

inline FileSpec demo_file() {
  FileSpec spec;
  spec.fields["FTITLE"] = "Kvntfu demo";
  spec.fields["ONAME"] = "Kvntfu";
  spec.fields["FBKGC"] = std::string("\x20\x40\x60", 3);
  spec.has_udhd = true;
  spec.udhd = tre("KVDEMO", "made by the Kvntfu test generator");
  spec.images.push_back(demo_gradient());
  spec.images.push_back(demo_rings());

  TextSpec about;
  about.fields["TEXTID"] = "ABOUT";
  about.fields["TXTITL"] = "What this file is";
  spec.texts.push_back({text_subheader(about),
                        "This NITF 2.1 file was written by the Kvntfu test generator.\r\n"
                        "It shows what the module reads: headers, images, text, extensions.\r\n"});
  DesSpec note;
  note.desid = "KVNTFU_NOTE";
  spec.des.push_back({des_subheader_full(note), "demo extension data"});
  return spec;
}

}  // namespace nitfgen
