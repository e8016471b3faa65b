// Where a file's images lie: the corners `nitf info` prints, the GeoJSON footprints of
// `nitf info --geojson`, and `nitf locate`, which projects through an image's RPC.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli.h"
#include "json.h"

namespace cli {

namespace {

const char* source_name(uint32_t source) {
  switch (source) {
    case KV_NITF_CORNERS_BLOCKA:
      return "blocka";
    case KV_NITF_CORNERS_GEOLOB:
      return "geolob";
    default:
      return "igeolo";
  }
}

// The whole argument as a finite number.
bool parse_number(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && *value == *value && *value - *value == 0;
}

}  // namespace

std::string corners_text(NitfDocument* doc, int index) {
  NitfImageCorners c{};
  const int r = Kv_NITFGetImageCorners(doc, static_cast<uint32_t>(index), &c);
  if (r == RET_MISSING_DATA) return std::string();
  if (r != RET_SUCCESS) return std::string("unreadable: ") + describe(r);
  std::string out;
  char point[64];
  for (int i = 0; i < 4; ++i) {
    std::snprintf(point, sizeof point, "%s%.9f,%.9f", i ? " " : "", c.LATITUDE[i], c.LONGITUDE[i]);
    out += point;
  }
  return out + " (" + source_name(c.SOURCE) + ")";
}

// A FeatureCollection with one feature per image: its footprint as a polygon (the
// corners counter-clockwise, as GeoJSON wants an outer ring) or a null geometry when
// the image is not located.
void print_geojson(NitfDocument* doc, std::FILE* out) {
  JsonWriter json(out);
  json.begin_object();
  json.string("type", "FeatureCollection");
  json.begin_array("features");
  for (int i = 0; i < Kv_NITFGetImageHeaderCount(doc); ++i) {
    NitfImageCorners c{};
    const int r = Kv_NITFGetImageCorners(doc, static_cast<uint32_t>(i), &c);
    json.begin_object();
    json.string("type", "Feature");
    json.begin_object("properties");
    json.number("index", i);
    json.raw("rpc", Kv_NITFHasRpc(doc, static_cast<uint32_t>(i)) == RET_SUCCESS ? "true" : "false");
    if (r == RET_SUCCESS) {
      json.string("source", source_name(c.SOURCE));
    } else if (r != RET_MISSING_DATA) {
      json.string("error", describe(r));
    }
    json.end_object();
    if (r != RET_SUCCESS) {
      json.null("geometry");
    } else {
      json.begin_object("geometry");
      json.string("type", "Polygon");
      json.begin_array("coordinates");
      json.begin_array();
      for (int k : {0, 3, 2, 1, 0}) {
        json.begin_array();
        json.real(nullptr, c.LONGITUDE[k]);
        json.real(nullptr, c.LATITUDE[k]);
        json.end_array();
      }
      json.end_array();
      json.end_array();
      json.end_object();
    }
    json.end_object();
  }
  json.end_array();
  json.end_object();
  json.finish();
}

int run_locate(const std::vector<std::string>& args) {
  std::string file;
  std::vector<double> values;
  bool ground = false;
  double image = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    double v;
    if (a == "--ground") {
      ground = true;
    } else if (a == "--image") {
      if (++i == args.size() || !parse_number(args[i], &image) || image < 0 ||
          image > 4294967295.0 || image != static_cast<double>(static_cast<uint32_t>(image)))
        return usage_error("locate: --image takes an image index");
    } else if (file.empty()) {
      file = a;
    } else if (parse_number(a, &v)) {
      values.push_back(v);
    } else {
      return usage_error("locate: '" + a + "' is not a number");
    }
  }
  if (file.empty()) return usage_error("locate: no file given");
  if (ground ? values.size() != 3 : values.size() < 2 || values.size() > 3)
    return usage_error(ground ? "locate: --ground takes LAT LON HEIGHT"
                              : "locate: ROW COL [HEIGHT] expected");
  if (values.size() == 2) values.push_back(0);

  Document doc;
  if (int r = doc.open(file); r != RET_SUCCESS) return fail(file, r);
  const auto index = static_cast<uint32_t>(image);
  double a = 0, b = 0;
  const int r =
      ground ? Kv_NITFGroundToImage(doc.get(), index, values[0], values[1], values[2], &a, &b)
             : Kv_NITFImageToGround(doc.get(), index, values[0], values[1], values[2], &a, &b);
  if (r == RET_MISSING_DATA || r == RET_BAD_ARGUMENT || r == RET_FAILURE) {
    const char* what = r == RET_MISSING_DATA   ? "carries no RPC00B or RPC00A"
                       : r == RET_BAD_ARGUMENT ? "does not exist"
                                               : "has no ground point there at that height";
    std::fprintf(stderr, "nitf: %s: image %u %s (%d)\n", file.c_str(), index, what, r);
    return kExitFailed;
  }
  if (r != RET_SUCCESS) return fail(file, r);
  if (ground) {
    std::printf("%.6f %.6f\n", a, b);
  } else {
    std::printf("%.9f %.9f %.3f\n", a, b, values[2]);
  }
  return kExitOk;
}

}  // namespace cli
