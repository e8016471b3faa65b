// The test generator's NITF 2.0 files (MIL-STD-2500A): file header, symbols of the
// three kinds, labels and texts, written from this file's own lists of 2.0 fields.
#pragma once

#include <string>
#include <vector>

#include "nitfgen.h"
#include "nitfgen_segments.h"

namespace nitfgen::v20 {

struct FileSpec {
  FieldValues fields;  // FHDR to OPHONE by name
  std::vector<Segment> images, symbols, labels, texts;
};
std::string build(const FileSpec& layout);

// SY to NELUT, the DLUT bytes (NELUT is their count / 3), SXSHDL 00000.
std::string symbol_subheader(const FieldValues& fields, const std::string& dlut = {});
// LA to LLOC, then LTC and LBC (three bytes each, red first), LXSHDL 00000.
std::string label_subheader(const FieldValues& fields, const std::string& ltc,
                            const std::string& lbc);
// TE to TXTFMT, TXSHDL 00000.
std::string text_subheader(const FieldValues& fields = {});

}  // namespace nitfgen::v20
