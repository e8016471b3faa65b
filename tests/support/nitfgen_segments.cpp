// The test generator's graphic, text and data extension subheaders.
#include "nitfgen_segments.h"

#include <vector>

#include "nitfgen.h"

namespace nitfgen {
namespace {

// MIL-STD-2500C table A-5 (graphic subheader), SY to SRES2.
const std::vector<Field> kGraphic = {
    {"SY", 2, false, "SY"},     {"SID", 10, false, ""},    {"SNAME", 20, false, ""},
    {"SSCLAS", 1, false, "U"},  {"SSCLSY", 2, false, ""},  {"SSCODE", 11, false, ""},
    {"SSCTLH", 2, false, ""},   {"SSREL", 20, false, ""},  {"SSDCTP", 2, false, ""},
    {"SSDCDT", 8, false, ""},   {"SSDCXM", 4, false, ""},  {"SSDG", 1, false, ""},
    {"SSDGDT", 8, false, ""},   {"SSCLTX", 43, false, ""}, {"SSCATP", 1, false, ""},
    {"SSCAUT", 40, false, ""},  {"SSCRSN", 1, false, ""},  {"SSSRDT", 8, false, ""},
    {"SSCTLN", 15, false, ""},  {"ENCRYP", 1, true, "0"},  {"SFMT", 1, false, "C"},
    {"SSTRUCT", 13, true, "0"}, {"SDLVL", 3, true, "1"},   {"SALVL", 3, true, "0"},
    {"SLOC", 10, true, "0"},    {"SBND1", 10, true, "0"},  {"SCOLOR", 1, false, "C"},
    {"SBND2", 10, true, "0"},   {"SRES2", 2, true, "0"},
};

// Table A-6 (text subheader), TE to TXTFMT.
const std::vector<Field> kText = {
    {"TE", 2, false, "TE"},      {"TEXTID", 7, false, ""},
    {"TXTALVL", 3, true, "0"},   {"TXTDT", 14, true, "20261206120000"},
    {"TXTITL", 80, false, ""},   {"TSCLAS", 1, false, "U"},
    {"TSCLSY", 2, false, ""},    {"TSCODE", 11, false, ""},
    {"TSCTLH", 2, false, ""},    {"TSREL", 20, false, ""},
    {"TSDCTP", 2, false, ""},    {"TSDCDT", 8, false, ""},
    {"TSDCXM", 4, false, ""},    {"TSDG", 1, false, ""},
    {"TSDGDT", 8, false, ""},    {"TSCLTX", 43, false, ""},
    {"TSCATP", 1, false, ""},    {"TSCAUT", 40, false, ""},
    {"TSCRSN", 1, false, ""},    {"TSSRDT", 8, false, ""},
    {"TSCTLN", 15, false, ""},   {"ENCRYP", 1, true, "0"},
    {"TXTFMT", 3, false, "STA"},
};

// Table A-8 (data extension subheader), the security group DESCLAS to DESCTLN.
const std::vector<Field> kDesSecurity = {
    {"DESCLAS", 1, false, "U"}, {"DESCLSY", 2, false, ""},  {"DESCODE", 11, false, ""},
    {"DESCTLH", 2, false, ""},  {"DESREL", 20, false, ""},  {"DESDCTP", 2, false, ""},
    {"DESDCDT", 8, false, ""},  {"DESDCXM", 4, false, ""},  {"DESDG", 1, false, ""},
    {"DESDGDT", 8, false, ""},  {"DESCLTX", 43, false, ""}, {"DESCATP", 1, false, ""},
    {"DESCAUT", 40, false, ""}, {"DESCRSN", 1, false, ""},  {"DESSRDT", 8, false, ""},
    {"DESCTLN", 15, false, ""},
};

}  // namespace

std::string graphic_subheader(const GraphicSpec& layout) {
  return fields(kGraphic, layout.fields) + extension_area(layout.has_extension, layout.extension);
}

std::string text_subheader(const TextSpec& layout) {
  return fields(kText, layout.fields) + extension_area(layout.has_extension, layout.extension);
}

std::string des_subheader_full(const DesSpec& layout) {
  std::string out =
      "DE" + text(layout.desid, 25) + text(layout.desver, 2) + fields(kDesSecurity, layout.fields);
  if (layout.desid == "TRE_OVERFLOW")
    out += fields({{"DESOFLW", 6, false, ""}, {"DESITEM", 3, true, ""}},
                  {{"DESOFLW", layout.desoflw}, {"DESITEM", layout.desitem}});
  return out + number(static_cast<long long>(layout.desshf.size()), 4) + layout.desshf;
}

std::string placement(long long first, long long second) {
  return number(first, 5) + number(second, 5);
}

}  // namespace nitfgen
