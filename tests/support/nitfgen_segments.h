// The test generator's graphic, text and data extension subheaders.
//
// Each subheader is written from this file's own list of NITF 2.1 fields and widths,
// independently of the module's readers, so that a reader that gets a width wrong
// disagrees with what is written here. Values are given by NITF name; what is not
// given gets the plain value a producer writes.
#pragma once

#include <string>

#include "nitfgen.h"

namespace nitfgen {

struct GraphicSpec {
  FieldValues fields;
  // SXSHD: the TRE bytes after SXSOFL. Without it SXSHDL is 00000.
  bool has_extension = false;
  std::string extension;
};
// SY to SXSHDL (258 bytes), then SXSOFL and SXSHD when there is an extension.
std::string graphic_subheader(const GraphicSpec& layout = {});

struct TextSpec {
  FieldValues fields;
  bool has_extension = false;  // TXSHD, as for the graphic
  std::string extension;
};
// TE to TXSHDL (282 bytes), then TXSOFL and TXSHD when there is an extension.
std::string text_subheader(const TextSpec& layout = {});

struct DesSpec {
  std::string desid = "TEST_DES";
  std::string desver = "01";
  FieldValues fields;  // DESCLAS to DESCTLN
  // Written after DESCTLN when DESID is TRE_OVERFLOW.
  std::string desoflw = "UDHD";
  std::string desitem = "000";
  std::string desshf;  // user-defined fields; DESSHL is their length
};
std::string des_subheader_full(const DesSpec& layout = {});

// Two 5-character groups of SLOC, SBND1 or SBND2, a minus sign leading a negative one.
std::string placement(long long first, long long second);

}  // namespace nitfgen
