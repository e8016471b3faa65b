// The index of every description, sorted by tag once on first use.
#include <algorithm>
#include <vector>

#include "tre/dictionary.h"

namespace nitf::tre {
namespace {

// The user-defined subheader fields of registered data extensions, described as TREs
// under their DESID: XML_DATA_CONTENT in its full form, CSSHPA.
constexpr Entry kXmlDataContent[] = {
    N("DESCRC", 5),   A("DESSHFT", 8),    A("DESSHDT", 20),  A("DESSHRP", 40),   A("DESSHSI", 60),
    A("DESSHSV", 10), A("DESSHSD", 20),   A("DESSHTN", 120), A("DESSHLPG", 125), A("DESSHLPT", 25),
    A("DESSHLI", 20), A("DESSHLIN", 120), A("DESSHABS", 200)};
// CSSHPA: the shapefile a segment carries, and where its three files start.
constexpr Entry kCsshpa[] = {A("SHAPE_USE", 25),
                             A("SHAPE_CLASS", 10),
                             If("SHAPE_USE", "CLOUD_SHAPES"),
                             A("CC_SOURCE", 18),
                             End(),
                             A("SHAPE1_NAME", 3),
                             N("SHAPE1_START", 6),
                             A("SHAPE2_NAME", 3),
                             N("SHAPE2_START", 6),
                             A("SHAPE3_NAME", 3),
                             N("SHAPE3_START", 6)};
constexpr Description kDesDescriptions[] = {{"CSSHPA DES", kCsshpa},
                                            {"XML_DATA_CONTENT", kXmlDataContent}};

const std::vector<Description>& index() {
  static const std::vector<Description> all = [] {
    std::vector<Description> v;
    v.insert(v.end(), kSensorDescriptions, kSensorDescriptions + kSensorDescriptionCount);
    v.insert(v.end(), kGeoDescriptions, kGeoDescriptions + kGeoDescriptionCount);
    v.insert(v.end(), kImageryDescriptions, kImageryDescriptions + kImageryDescriptionCount);
    v.insert(v.end(), std::begin(kDesDescriptions), std::end(kDesDescriptions));
    std::sort(v.begin(), v.end(), [](const Description& a, const Description& b) {
      return std::string_view(a.tag) < std::string_view(b.tag);
    });
    return v;
  }();
  return all;
}

}  // namespace

std::span<const Description> descriptions() {
  return index();
}

const Description* find_description(std::string_view tag) {
  while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\0')) tag.remove_suffix(1);
  const auto& all = index();
  auto it = std::lower_bound(
      all.begin(), all.end(), tag,
      [](const Description& d, std::string_view t) { return std::string_view(d.tag) < t; });
  return it != all.end() && it->tag == tag ? &*it : nullptr;
}

}  // namespace nitf::tre
