// The demo file: what ./run.sh shows a new user. It grows as the module learns more.
#pragma once

#include "nitfgen.h"
#include "nitfgen_segments.h"

namespace nitfgen {

inline FileSpec demo_file() {
  FileSpec spec;
  spec.fields["FTITLE"] = "Kvntfu demo";
  spec.fields["ONAME"] = "Kvntfu";
  spec.fields["FBKGC"] = std::string("\x20\x40\x60", 3);
  spec.has_udhd = true;
  spec.udhd = tre("KVDEMO", "made by the Kvntfu test generator");

  TextSpec about;
  about.fields["TEXTID"] = "ABOUT";
  about.fields["TXTITL"] = "What this file is";
  spec.texts.push_back({text_subheader(about),
                        "This NITF 2.1 file was written by the Kvntfu test generator.\r\n"
                        "It shows what the module reads: headers, text, extensions.\r\n"});
  DesSpec note;
  note.desid = "KVNTFU_NOTE";
  spec.des.push_back({des_subheader_full(note), "demo extension data"});
  return spec;
}

}  // namespace nitfgen
