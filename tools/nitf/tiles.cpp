// nitf tiles: the composed picture as a pyramid of PNG tiles in the z/x/y layout web maps
// use (OUTDIR/z/x/y.png; level 0 one tile, each level twice the last, the finest at the
// picture's own scale) and OUTDIR/tiles.json saying the picture's size, the levels and the
// tile size. Every tile is a region composed at its level's scale (Kv_NtfRenderRegion),
// so no level needs the whole picture in memory; tiles at the right and bottom edges are
// cut to the picture.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <kvhost.h>

#include "cli.h"
#include "picture_writer.h"

namespace cli {
namespace {

constexpr const char* kUsage = "tiles: usage: nitf tiles FILE OUTDIR [--tile N]";

int write_tile(NitfDocument* doc, const std::string& file, const std::string& path,
               const int32_t region[4], int32_t width, int32_t height) {
  KvBitmap bitmap{};
  if (int r = Kv_NtfRenderRegion(&bitmap, doc, region, width, height); r != RET_SUCCESS)
    return fail(file, r);
  PictureWriter writer;
  bool ok = writer.open(path, PictureFormat::kPng, static_cast<uint32_t>(width),
                        static_cast<uint32_t>(height), 24);
  for (int32_t y = 0; ok && y < height; ++y) {
    const int32_t stored = bitmap.view_code == 4 ? height - 1 - y : y;  // bottom-up rows
    ok = writer.write_row(bitmap.data + static_cast<std::size_t>(stored) * bitmap.bytes_per_line);
  }
  KvHost_FreeBitmap(&bitmap);
  if (ok && writer.finish()) return kExitOk;
  std::fprintf(stderr, "nitf: %s: %s\n", path.c_str(), writer.error().c_str());
  return kExitFailed;
}

}  // namespace

int run_tiles(const std::vector<std::string>& args) {
  std::string file, folder;
  long tile = 256;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--tile" && i + 1 < args.size()) {
      char* end = nullptr;
      tile = std::strtol(args[++i].c_str(), &end, 10);
      if (*end != '\0' || tile < 16 || tile > 4096)
        return usage_error("tiles: --tile takes 16 to 4096");
    } else if (!args[i].empty() && args[i][0] != '-' && file.empty()) {
      file = args[i];
    } else if (!args[i].empty() && args[i][0] != '-' && folder.empty()) {
      folder = args[i];
    } else {
      return usage_error(kUsage);
    }
  }
  if (folder.empty()) return usage_error(kUsage);
  Document doc;
  if (int r = doc.open(file); r != RET_SUCCESS) return fail(file, r);
  uint32_t width = 0, height = 0;
  if (int r = GetActual_Width_Height(doc.get(), &width, &height); r != RET_SUCCESS)
    return fail(file, r);
  if (width == 0 || height == 0) return fail(file, RET_INVALID_PARAMETER);
  int finest = 0;
  while ((uint64_t{static_cast<uint64_t>(tile)} << finest) < std::max(width, height)) ++finest;
  const uint64_t t = static_cast<uint64_t>(tile);
  std::error_code error;
  uint64_t total = 0, made = 0;
  for (int z = 0; z <= finest; ++z) {
    const uint64_t cell = t << (finest - z);
    total += ((width + cell - 1) / cell) * ((height + cell - 1) / cell);
  }
  Progress progress;
  for (int z = 0; z <= finest; ++z) {
    const uint64_t cell = t << (finest - z);  // canvas pixels one tile covers
    for (uint64_t x = 0; x * cell < width; ++x) {
      const std::string column = folder + "/" + std::to_string(z) + "/" + std::to_string(x);
      std::filesystem::create_directories(column, error);
      for (uint64_t y = 0; y * cell < height; ++y) {
        const int32_t region[4] = {
            static_cast<int32_t>(x * cell), static_cast<int32_t>(y * cell),
            static_cast<int32_t>(std::min<uint64_t>(cell, width - x * cell)),
            static_cast<int32_t>(std::min<uint64_t>(cell, height - y * cell))};
        // The level's pixels this tile holds: its share of the level's size.
        const auto side = [&](uint64_t at, uint64_t extent) {
          const uint64_t level = (extent + (uint64_t{1} << (finest - z)) - 1) >> (finest - z);
          return static_cast<int32_t>(std::min<uint64_t>(t, level - at * t));
        };
        const std::string path = column + "/" + std::to_string(y) + ".png";
        if (int r = write_tile(doc.get(), file, path, region, side(x, width), side(y, height));
            r != kExitOk)
          return r;
        progress.update("tiles", ++made, total);
      }
    }
  }
  progress.done();
  FILE* json = std::fopen((folder + "/tiles.json").c_str(), "w");
  if (!json) {
    std::fprintf(stderr, "nitf: %s: cannot write tiles.json\n", folder.c_str());
    return kExitFailed;
  }
  std::fprintf(json,
               "{\"width\":%u,\"height\":%u,\"tile\":%ld,\"minzoom\":0,\"maxzoom\":%d,"
               "\"layout\":\"z/x/y.png\"}\n",
               width, height, tile, finest);
  const bool written = std::fclose(json) == 0;
  if (written) std::printf("nitf: wrote %d levels of tiles into %s\n", finest + 1, folder.c_str());
  return written ? kExitOk : kExitFailed;
}

}  // namespace cli
