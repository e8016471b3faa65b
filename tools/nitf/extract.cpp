// nitf extract: an image's stored samples, or a window of them at a reduction, for chosen
// bands, as a TIFF in their own type (libtiff): unsigned, signed or IEEE float samples of
// 8, 16, 32 or 64 bits, every chosen band in each pixel. The module reads them through
// Kv_NITFReadSamples in strips of rows, so that a large image never sits in memory whole.
// A located image's TIFF is a GeoTIFF in WGS 84 degrees. Its three tags are written
// here through libtiff rather than through libgeotiff, whose loading (it brings PROJ and
// PROJ's network stack) cost every nitf command more time than a small render takes.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli.h"

namespace cli {
namespace {

struct ExtractOptions {
  std::string file, out;
  uint32_t image = 0, reduce = 1;
  bool region = false;
  uint32_t x = 0, y = 0, width = 0, height = 0;
  std::vector<uint32_t> bands;  // from 0
};

int parse(const std::vector<std::string>& args, ExtractOptions* o) {
  constexpr const char* kUsage =
      "extract: usage: nitf extract FILE [--image N] [--region X,Y,W,H] [--reduce N] "
      "[--bands 1,2,3] -o OUT.tif";
  std::vector<uint32_t> v;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool valued =
        a == "-o" || a == "--image" || a == "--region" || a == "--reduce" || a == "--bands";
    if (valued && i + 1 == args.size()) return usage_error(kUsage);
    if (a == "-o") {
      o->out = args[++i];
    } else if (a == "--image" && parse_numbers(args[++i], ',', 1, UINT32_MAX, &v)) {
      o->image = v[0];
    } else if (a == "--reduce" && parse_numbers(args[++i], ',', 1, UINT32_MAX, &v)) {
      o->reduce = v[0];
    } else if (a == "--region" && parse_numbers(args[++i], ',', 4, UINT32_MAX, &v)) {
      o->region = true;
      o->x = v[0], o->y = v[1], o->width = v[2], o->height = v[3];
    } else if (a == "--bands" && parse_numbers(args[++i], ',', 0, UINT32_MAX, &v)) {
      for (uint32_t b : v) {
        if (b == 0) return usage_error("extract: bands are numbered from 1");
        o->bands.push_back(b - 1);
      }
    } else if (!valued && a[0] != '-' && o->file.empty()) {
      o->file = a;
    } else {
      return usage_error(kUsage);
    }
  }
  return o->file.empty() || o->out.empty() ? usage_error(kUsage) : kExitOk;
}

uint16_t sample_format(uint32_t kind) {
  switch (kind) {
    case KV_SAMPLE_SIGNED:
      return SAMPLEFORMAT_INT;
    case KV_SAMPLE_FLOAT:
      return SAMPLEFORMAT_IEEEFP;
    case KV_SAMPLE_COMPLEX:
      return SAMPLEFORMAT_COMPLEXIEEEFP;
    default:
      return SAMPLEFORMAT_UINT;
  }
}

// The TIFF's tags: three 8-bit unsigned bands are RGB, anything else grey with the bands
// after the first as extra samples.
bool describe(TIFF* tiff, const KvImageInfo& info, uint32_t width, uint32_t height, uint32_t bands,
              uint32_t strip_rows) {
  const bool rgb = bands == 3 && info.sample_bytes == 1 && info.sample_kind == KV_SAMPLE_UNSIGNED;
  const uint32_t colour = rgb ? 3 : 1;
  std::vector<uint16_t> extra(bands - colour, EXTRASAMPLE_UNSPECIFIED);
  bool ok =
      TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) &&
      TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
      TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(bands)) &&
      TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(8 * info.sample_bytes)) &&
      TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, sample_format(info.sample_kind)) &&
      TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
      TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) &&
      TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
      TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, strip_rows);
  if (ok && !extra.empty())
    ok =
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()), extra.data());
  return ok;
}

constexpr ttag_t kGeoPixelScale = 33550, kGeoTiePoints = 33922, kGeoKeyDirectory = 34735;

// libtiff writes tags it was not built with once it has been told their types.
bool register_geo_tags(TIFF* tiff) {
  static const TIFFFieldInfo kTags[] = {
      {kGeoPixelScale, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoPixelScale")},
      {kGeoTiePoints, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoTiePoints")},
      {kGeoKeyDirectory, -1, -1, TIFF_SHORT, FIELD_CUSTOM, 1, 1,
       const_cast<char*>("GeoKeyDirectory")}};
  return TIFFMergeFieldInfo(tiff, kTags, 3) == 0;
}

// Where the samples lie on Earth, from the image's corners (the centres of its corner
// pixels, WGS 84 degrees), in the output's raster (pixel areas, each output pixel the
// area of its cell of reduction x reduction image pixels): a pixel scale and one tie point when the
// corners make a rectangle along the parallels and meridians, else the four corners as tie points.
// An image without corners is written without georeferencing.
bool georeference(TIFF* tiff, NitfDocument* doc, const ExtractOptions& o, const KvImageInfo& info) {
  NitfImageCorners k{};
  if (Kv_NITFGetImageCorners(doc, o.image, &k) != RET_SUCCESS) return true;
  const double last_col = info.columns - 1.0, last_row = info.rows - 1.0;
  auto raster_x = [&](double col) { return (col + 0.5 - o.x) / o.reduce; };
  auto raster_y = [&](double row) { return (row + 0.5 - o.y) / o.reduce; };
  auto same = [](double a, double b) { return std::fabs(a - b) < 1e-9; };
  const double* lat = k.LATITUDE;
  const double* lon = k.LONGITUDE;
  const bool rectangle = same(lat[0], lat[1]) && same(lat[2], lat[3]) && same(lon[0], lon[3]) &&
                         same(lon[1], lon[2]) && last_col > 0 && last_row > 0 &&
                         !same(lat[0], lat[3]) && !same(lon[0], lon[1]);
  bool ok = register_geo_tags(tiff);
  if (!ok) return false;
  if (rectangle) {
    const double dx = (lon[1] - lon[0]) / last_col, dy = (lat[0] - lat[3]) / last_row;
    double scale[3] = {dx * o.reduce, dy * o.reduce, 0};
    double tie[6] = {raster_x(0), raster_y(0), 0, lon[0], lat[0], 0};
    ok = TIFFSetField(tiff, kGeoPixelScale, 3, scale) && TIFFSetField(tiff, kGeoTiePoints, 6, tie);
  } else {
    const double cols[4] = {0, last_col, last_col, 0}, rows[4] = {0, 0, last_row, last_row};
    double ties[24];
    for (int i = 0; i < 4; ++i) {
      const double point[6] = {raster_x(cols[i]), raster_y(rows[i]), 0, lon[i], lat[i], 0};
      std::copy(point, point + 6, ties + 6 * i);
    }
    ok = TIFFSetField(tiff, kGeoTiePoints, 24, ties);
  }
  // Key directory: version 1.1.0 and three keys in ascending order (id, where 0 = the
  // value itself, count, value): a geographic model, pixels as areas, WGS 84 (EPSG 4326).
  uint16_t directory[16] = {1, 1, 0, 3, 1024, 0, 1, 2, 1025, 0, 1, 1, 2048, 0, 1, 4326};
  return ok && TIFFSetField(tiff, kGeoKeyDirectory, 16, directory);
}

// Output rows per read: about 16 MiB of samples, whole strips of the TIFF.
uint32_t rows_per_read(uint64_t row_bytes, uint32_t height) {
  const uint64_t rows = (uint64_t{16} << 20) / (row_bytes ? row_bytes : 1);
  return static_cast<uint32_t>(std::max<uint64_t>(1, std::min<uint64_t>(rows, height)));
}

int write_tiff(const ExtractOptions& o, NitfDocument* doc, const KvImageInfo& info) {
  const uint32_t out_w = (o.width - 1) / o.reduce + 1, out_h = (o.height - 1) / o.reduce + 1;
  const auto bands = static_cast<uint32_t>(o.bands.size());
  const uint64_t row_bytes = uint64_t{out_w} * bands * info.sample_bytes;
  const uint32_t step = rows_per_read(row_bytes, out_h);
  // The first strip is read before the file is made, so that a refused request leaves
  // no file behind.
  std::vector<uint8_t> strip(static_cast<std::size_t>(row_bytes * step));
  auto read = [&](uint32_t first) {
    const uint32_t rows = std::min(step, out_h - first);
    const uint32_t top = o.y + first * o.reduce;
    const auto span = static_cast<uint32_t>(
        std::min<uint64_t>(uint64_t{rows} * o.reduce, uint64_t{o.y} + o.height - top));
    const KvSampleRequest q{
        top, o.x, span, o.width, o.reduce, o.bands.data(), bands, KV_SAMPLES_BY_PIXEL};
    return Kv_NITFReadSamples(doc, o.image, &q, strip.data(), strip.size(),
                              static_cast<std::size_t>(row_bytes));
  };
  if (int r = read(0); r != RET_SUCCESS) return fail(o.file, r);
  TIFF* tiff = TIFFOpen(o.out.c_str(), "w");
  if (!tiff) {
    std::fprintf(stderr, "nitf: %s: libtiff cannot write there\n", o.out.c_str());
    return kExitFailed;
  }
  bool ok = describe(tiff, info, out_w, out_h, bands, step) && georeference(tiff, doc, o, info);
  int code = RET_SUCCESS;
  Progress progress;
  for (uint32_t first = 0; ok && first < out_h; first += step) {
    if (first != 0 && (code = read(first)) != RET_SUCCESS) break;
    const uint32_t rows = std::min(step, out_h - first);
    ok = TIFFWriteEncodedStrip(tiff, first / step, strip.data(),
                               static_cast<tmsize_t>(row_bytes * rows)) >= 0;
    progress.update("extracting", first + rows, out_h);
  }
  progress.done();
  TIFFClose(tiff);
  if (ok && code == RET_SUCCESS) {
    std::printf("nitf: wrote %s (%u x %u, %u band%s)\n", o.out.c_str(), out_w, out_h, bands,
                bands == 1 ? "" : "s");
    return kExitOk;
  }
  std::remove(o.out.c_str());
  if (code != RET_SUCCESS) return fail(o.file, code);
  std::fprintf(stderr, "nitf: %s: libtiff could not write the samples\n", o.out.c_str());
  return kExitFailed;
}

}  // namespace

int run_extract(const std::vector<std::string>& args) {
  ExtractOptions o;
  if (int r = parse(args, &o); r != kExitOk) return r;
  Document doc;
  if (int r = doc.open(o.file); r != RET_SUCCESS) return fail(o.file, r);
  KvImageInfo info;
  if (int r = Kv_NITFGetImageInfo(doc.get(), o.image, &info); r != RET_SUCCESS)
    return fail(o.file, r);
  if (!o.region) o.width = info.columns, o.height = info.rows;
  if (o.bands.empty())
    for (uint32_t b = 0; b < info.bands; ++b) o.bands.push_back(b);
  // Kv_NITFReadSamples refuses what does not fit the image; the sizes here must at least
  // make an output.
  if (o.width == 0 || o.height == 0 || o.reduce == 0) return fail(o.file, RET_INVALID_PARAMETER);
  return write_tiff(o, doc.get(), info);
}

}  // namespace cli
