// The test generator's NITF 2.0 files.
#include "nitfgen20.h"

namespace nitfgen::v20 {
namespace {

// MIL-STD-2500A file header, FHDR to HL; the security group is the 2.0 one.
const std::vector<Field> kHeader = {
    {"FHDR", 4, false, "NITF"}, {"FVER", 5, false, "02.00"},  {"CLEVEL", 2, true, "01"},
    {"STYPE", 4, false, ""},    {"OSTAID", 10, false, "GEN"}, {"FDT", 14, false, "06120000ZDEC26"},
    {"FTITLE", 80, false, ""},  {"FSCLAS", 1, false, "U"},    {"FSCODE", 40, false, ""},
    {"FSCTLH", 40, false, ""},  {"FSREL", 40, false, ""},     {"FSCAUT", 20, false, ""},
    {"FSCTLN", 20, false, ""},  {"FSDWNG", 6, false, ""},     {"FSCOP", 5, true, "0"},
    {"FSCPYS", 5, true, "0"},   {"ENCRYP", 1, true, "0"},     {"ONAME", 27, false, ""},
    {"OPHONE", 18, false, ""},
};

// Symbol subheader, SY to NELUT.
const std::vector<Field> kSymbol = {
    {"SY", 2, false, "SY"},    {"SID", 10, false, ""},    {"SNAME", 20, false, ""},
    {"SSCLAS", 1, false, "U"}, {"SSCODE", 40, false, ""}, {"SSCTLH", 40, false, ""},
    {"SSREL", 40, false, ""},  {"SSCAUT", 20, false, ""}, {"SSCTLN", 20, false, ""},
    {"SSDWNG", 6, false, ""},  {"ENCRYP", 1, true, "0"},  {"STYPE", 1, false, "C"},
    {"NLIPS", 4, true, "0"},   {"NPIXPL", 4, true, "0"},  {"NWDTH", 4, true, "0"},
    {"NBPP", 1, true, "0"},    {"SDLVL", 3, true, "1"},   {"SALVL", 3, true, "0"},
    {"SLOC", 10, true, "0"},   {"SLOC2", 10, true, "0"},  {"SCOLOR", 1, false, " "},
    {"SNUM", 6, true, "0"},    {"SROT", 3, true, "0"},    {"NELUT", 3, true, "0"},
};

// Label subheader, LA to LLOC.
const std::vector<Field> kLabel = {
    {"LA", 2, false, "LA"},    {"LID", 10, false, ""},    {"LSCLAS", 1, false, "U"},
    {"LSCODE", 40, false, ""}, {"LSCTLH", 40, false, ""}, {"LSREL", 40, false, ""},
    {"LSCAUT", 20, false, ""}, {"LSCTLN", 20, false, ""}, {"LSDWNG", 6, false, ""},
    {"ENCRYP", 1, true, "0"},  {"LFS", 1, false, "R"},    {"LCW", 2, true, "0"},
    {"LCH", 2, true, "0"},     {"LDLVL", 3, true, "1"},   {"LALVL", 3, true, "0"},
    {"LLOC", 10, true, "0"},
};

// Text subheader, TE to TXTFMT.
const std::vector<Field> kText = {
    {"TE", 2, false, "TE"},      {"TEXTID", 10, false, ""}, {"TXTDT", 14, false, "06120000ZDEC26"},
    {"TXTITL", 80, false, ""},   {"TSCLAS", 1, false, "U"}, {"TSCODE", 40, false, ""},
    {"TSCTLH", 40, false, ""},   {"TSREL", 40, false, ""},  {"TSCAUT", 20, false, ""},
    {"TSCTLN", 20, false, ""},   {"TSDWNG", 6, false, ""},  {"ENCRYP", 1, true, "0"},
    {"TXTFMT", 3, false, "STA"},
};

}  // namespace

std::string build(const FileSpec& l) {
  const std::string tables = lengths(l.images, 6, 10) + lengths(l.symbols, 4, 6) +
                             lengths(l.labels, 4, 3) + lengths(l.texts, 4, 5) + "000" + "000" +
                             "00000" + "00000";
  std::string body;
  for (const auto* list : {&l.images, &l.symbols, &l.labels, &l.texts})
    for (const Segment& s : *list) body += s.subheader + s.data;
  std::string head = fields(kHeader, l.fields);
  const std::size_t header_length = head.size() + 12 + 6 + tables.size();
  return head + number(static_cast<long long>(header_length + body.size()), 12) +
         number(static_cast<long long>(header_length), 6) + tables + body;
}

std::string symbol_subheader(const FieldValues& values, const std::string& dlut) {
  FieldValues f = values;
  f["NELUT"] = std::to_string(dlut.size() / 3);
  return fields(kSymbol, f) + dlut + "00000";
}

std::string label_subheader(const FieldValues& values, const std::string& ltc,
                            const std::string& lbc) {
  return fields(kLabel, values) + ltc.substr(0, 3) + lbc.substr(0, 3) + "00000";
}

std::string text_subheader(const FieldValues& values) {
  return fields(kText, values) + "00000";
}

}  // namespace nitfgen::v20
