// The demo file: what ./run.sh shows a new user. It grows as the module learns more.
//
// Two uncompressed images make one picture: a colour gradient on the common coordinate
// system and a grey ring pattern attached to it (IALVL = the gradient's IDLVL) at an
// ILOC that takes it past the gradient's corner, drawn on top by its higher display
// level. A JPEG-compressed checkerboard sits below the gradient. The canvas (240 x 176)
// shows the file's background colour where no image lies.
#pragma once

#include <cmath>
#include <string>

#include "nitfgen.h"
#include "nitfgen_image.h"
#include "nitfgen_jpeg.h"
#include "nitfgen_segments.h"

namespace nitfgen {

// The gradient: red grows to the right, green downwards, blue fixed; pixel interleaved.
inline Segment demo_gradient() {
  ImageShape layout;
  layout.nrows = 128;
  layout.ncols = 192;
  layout.irep = "RGB";
  layout.bands = {BandSpec{"R"}, BandSpec{"G"}, BandSpec{"B"}};
  layout.imode = "P";
  layout.nppbh = 192;
  layout.nppbv = 128;
  layout.fields["IID1"] = "GRADIENT";
  std::string pixels;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 192; ++x) {
      pixels += static_cast<char>(x * 255 / 191);
      pixels += static_cast<char>(y * 255 / 127);
      pixels += static_cast<char>(160);
    }
  }
  return image_segment(layout, pixels);
}

// The rings: dark and light rings 6 pixels wide around the centre.
inline Segment demo_rings() {
  ImageShape layout;
  layout.nrows = layout.ncols = layout.nppbh = layout.nppbv = 96;
  layout.idlvl = 2;
  layout.ialvl = 1;
  layout.iloc_row = 80;
  layout.iloc_column = 144;
  layout.fields["IID1"] = "RINGS";
  std::string pixels;
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 96; ++x) {
      int dx = x - 48, dy = y - 48;
      int ring = static_cast<int>(std::sqrt(dx * dx + dy * dy)) / 6;
      pixels += static_cast<char>(ring % 2 ? 235 : 30);
    }
  }
  return image_segment(layout, pixels);
}

// The checkerboard: a grey JPEG (C3) of 8-pixel squares, at level 3 below the gradient.
inline Segment demo_checkerboard() {
  ImageShape layout;
  layout.nrows = 48;
  layout.ncols = 64;
  layout.nppbh = 64;
  layout.nppbv = 48;
  layout.ic = "C3";
  layout.comrat = "00.0";
  layout.idlvl = 3;
  layout.iloc_row = 128;
  layout.fields["IID1"] = "CHECKERS";
  return image_segment(layout, jpeg_stream(64, 48, 1, 95, [](int x, int y) {
                         return ((x / 8 + y / 8) % 2) ? 220u : 40u;
                       }));
}

inline FileSpec demo_file() {
  FileSpec layout;
  layout.fields["FTITLE"] = "Kvntfu demo";
  layout.fields["ONAME"] = "Kvntfu";
  layout.fields["FBKGC"] = std::string("\x20\x40\x60", 3);
  layout.has_udhd = true;
  layout.udhd = tre("KVDEMO", "made by the Kvntfu test generator");
  layout.images.push_back(demo_gradient());
  layout.images.push_back(demo_rings());
  layout.images.push_back(demo_checkerboard());

  TextSpec about;
  about.fields["TEXTID"] = "ABOUT";
  about.fields["TXTITL"] = "What this file is";
  layout.texts.push_back(
      {text_subheader(about),
       "This NITF 2.1 file was written by the Kvntfu test generator.\r\n"
       "It shows what the module reads: headers, images, text, extensions.\r\n"});
  DesSpec note;
  note.desid = "KVNTFU_NOTE";
  layout.des.push_back({des_subheader_full(note), "demo extension data"});
  return layout;
}

}  // namespace nitfgen
