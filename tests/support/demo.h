// The demo file: what ./run.sh shows a new user. It grows as the module learns more.
#pragma once

#include "nitfgen.h"

namespace nitfgen {

inline FileSpec demo_file() {
  FileSpec spec;
  spec.fields["FTITLE"] = "Kvntfu demo";
  spec.fields["ONAME"] = "Kvntfu";
  spec.fields["FBKGC"] = std::string("\x20\x40\x60", 3);
  spec.has_udhd = true;
  spec.udhd = tre("KVDEMO", "made by the Kvntfu test generator");
  return spec;
}

}  // namespace nitfgen
