// nitf tiles: the composed picture as a pyramid of PNG tiles in the z/x/y layout web maps
// use (OUTDIR/z/x/y.png; level 0 one tile, each level twice the last, the finest at the
// picture's own scale) and OUTDIR/tiles.json saying the picture's size, the levels and the
// tile size. Tiles at the right and bottom edges are cut to the picture.
//
// No level needs the whole picture in memory, and no level is read from the file more
// than once. The finest level is composed in squares of kChunk tiles a side
// (Kv_NtfRenderRegion at its own size, the pixels of the whole render), so that a block
// of the image larger than a tile is decoded once rather than once per tile. The levels
// in between are composed tile by tile at their scale. The first level small enough to
// hold (kHeldBytes) is composed whole, and each coarser one is that level halved by
// nearest pixel: a reduced read costs about as much as reading the file again, halving a
// held picture almost nothing.
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
constexpr uint64_t kChunk = 8;                       // tiles a side composed at once
constexpr uint64_t kHeldBytes = uint64_t{12} << 20;  // the largest level held whole

// Pixels of 3 bytes (blue, green, red), rows `stride` bytes apart from the top row.
struct View {
  const uint8_t* top = nullptr;
  std::ptrdiff_t stride = 0;
  uint64_t width = 0, height = 0;
};

// A rendered bitmap's rows top first, whichever way it stores them.
View view_of(const KvBitmap& b) {
  const auto line = static_cast<std::ptrdiff_t>(b.bytes_per_line);
  if (b.view_code == 4)  // bottom-up rows
    return View{b.data + static_cast<std::ptrdiff_t>(b.height - 1) * line, -line,
                static_cast<uint64_t>(b.width), static_cast<uint64_t>(b.height)};
  return View{b.data, line, static_cast<uint64_t>(b.width), static_cast<uint64_t>(b.height)};
}

// A rendered bitmap released on every path.
struct Rendered {
  KvBitmap bitmap{};
  Rendered() = default;
  Rendered(const Rendered&) = delete;
  Rendered& operator=(const Rendered&) = delete;
  ~Rendered() { KvHost_FreeBitmap(&bitmap); }
};

struct Pyramid {
  NitfDocument* doc = nullptr;
  std::string file, folder;
  uint64_t tile = 256, width = 0, height = 0;
  int finest = 0;
  uint64_t made = 0, total = 0;
  Progress progress;

  // The level's pixels of a canvas side of `extent`, rounded up.
  uint64_t level(uint64_t extent, int z) const {
    const int shift = finest - z;
    return (extent + (uint64_t{1} << shift) - 1) >> shift;
  }
};

// Tile (x, y) of level z: the w x h pixels of `from` at (left, top).
int write_tile(Pyramid& p, int z, uint64_t x, uint64_t y, const View& from, uint64_t left,
               uint64_t top, uint64_t w, uint64_t h) {
  const std::string column = p.folder + "/" + std::to_string(z) + "/" + std::to_string(x);
  std::error_code error;
  if (y == 0) std::filesystem::create_directories(column, error);
  const std::string path = column + "/" + std::to_string(y) + ".png";
  PictureWriter writer;
  bool ok = writer.open(path, PictureFormat::kPng, static_cast<uint32_t>(w),
                        static_cast<uint32_t>(h), 24);
  for (uint64_t row = 0; ok && row < h; ++row)
    ok = writer.write_row(from.top + static_cast<std::ptrdiff_t>(top + row) * from.stride +
                          left * 3);
  if (ok && writer.finish()) {
    p.progress.update("tiles", ++p.made, p.total);
    return kExitOk;
  }
  std::fprintf(stderr, "nitf: %s: %s\n", path.c_str(), writer.error().c_str());
  return kExitFailed;
}

// Composes the canvas window (left, top, w, h) at out_w x out_h.
int render(Pyramid& p, uint64_t left, uint64_t top, uint64_t w, uint64_t h, uint64_t out_w,
           uint64_t out_h, Rendered* out) {
  const int32_t region[4] = {static_cast<int32_t>(left), static_cast<int32_t>(top),
                             static_cast<int32_t>(w), static_cast<int32_t>(h)};
  if (int r = Kv_NtfRenderRegion(&out->bitmap, p.doc, region, static_cast<int32_t>(out_w),
                                 static_cast<int32_t>(out_h));
      r != RET_SUCCESS)
    return fail(p.file, r);
  return kExitOk;
}

// Every tile of level z cut from a picture of the whole level.
int write_level(Pyramid& p, int z, const View& whole) {
  for (uint64_t x = 0; x * p.tile < whole.width; ++x)
    for (uint64_t y = 0; y * p.tile < whole.height; ++y)
      if (int r = write_tile(p, z, x, y, whole, x * p.tile, y * p.tile,
                             std::min(p.tile, whole.width - x * p.tile),
                             std::min(p.tile, whole.height - y * p.tile));
          r != kExitOk)
        return r;
  return kExitOk;
}

// The finest level, kChunk x kChunk tiles at a time.
int write_finest(Pyramid& p) {
  const uint64_t side = p.tile * kChunk;
  for (uint64_t cy = 0; cy < p.height; cy += side)
    for (uint64_t cx = 0; cx < p.width; cx += side) {
      const uint64_t w = std::min(side, p.width - cx), h = std::min(side, p.height - cy);
      Rendered chunk;
      if (int r = render(p, cx, cy, w, h, w, h, &chunk); r != kExitOk) return r;
      const View v = view_of(chunk.bitmap);
      for (uint64_t x = 0; x * p.tile < w; ++x)
        for (uint64_t y = 0; y * p.tile < h; ++y)
          if (int r = write_tile(p, p.finest, cx / p.tile + x, cy / p.tile + y, v, x * p.tile,
                                 y * p.tile, std::min(p.tile, w - x * p.tile),
                                 std::min(p.tile, h - y * p.tile));
              r != kExitOk)
            return r;
    }
  return kExitOk;
}

// A level between the finest and the held ones, one tile at a time at its scale.
int write_by_tile(Pyramid& p, int z) {
  const uint64_t cell = p.tile << (p.finest - z);  // canvas pixels one tile covers
  const uint64_t level_w = p.level(p.width, z), level_h = p.level(p.height, z);
  for (uint64_t x = 0; x * cell < p.width; ++x)
    for (uint64_t y = 0; y * cell < p.height; ++y) {
      const uint64_t w = std::min(p.tile, level_w - x * p.tile);
      const uint64_t h = std::min(p.tile, level_h - y * p.tile);
      Rendered one;
      if (int r = render(p, x * cell, y * cell, std::min(cell, p.width - x * cell),
                         std::min(cell, p.height - y * cell), w, h, &one);
          r != kExitOk)
        return r;
      if (int r = write_tile(p, z, x, y, view_of(one.bitmap), 0, 0, w, h); r != kExitOk) return r;
    }
  return kExitOk;
}

// `from` halved by nearest pixel: each pixel the one a region composed at half the size
// takes, the bottom right of its 2 x 2 cell (the last row or column at odd edges).
std::vector<uint8_t> halve(const View& from, View* out) {
  const uint64_t w = (from.width + 1) / 2, h = (from.height + 1) / 2;
  std::vector<uint8_t> pixels(static_cast<std::size_t>(w * h * 3));
  for (uint64_t y = 0; y < h; ++y) {
    const uint64_t from_y = std::min(2 * y + 1, from.height - 1);
    const uint8_t* in = from.top + static_cast<std::ptrdiff_t>(from_y) * from.stride;
    uint8_t* row = pixels.data() + y * w * 3;
    for (uint64_t x = 0; x < w; ++x) {
      const uint8_t* pixel = in + 3 * std::min(2 * x + 1, from.width - 1);
      std::copy(pixel, pixel + 3, row + 3 * x);
    }
  }
  *out = View{pixels.data(), static_cast<std::ptrdiff_t>(w * 3), w, h};
  return pixels;
}

// The held levels: `z` composed whole, then every coarser one halved from the last.
int write_held(Pyramid& p, int z) {
  Rendered whole;
  if (int r = render(p, 0, 0, p.width, p.height, p.level(p.width, z), p.level(p.height, z), &whole);
      r != kExitOk)
    return r;
  View v = view_of(whole.bitmap);
  std::vector<uint8_t> held;
  for (;; --z) {
    if (int r = write_level(p, z, v); r != kExitOk) return r;
    if (z == 0) return kExitOk;
    held = halve(v, &v);
  }
}

// FILE FOLDER [--tile N]; a non-zero exit status when the command line is wrong.
int parse_tiles(const std::vector<std::string>& args, std::string* file, std::string* folder,
                long* tile) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--tile" && i + 1 < args.size()) {
      char* end = nullptr;
      *tile = std::strtol(args[++i].c_str(), &end, 10);
      if (*end != '\0' || *tile < 16 || *tile > 4096)
        return usage_error("tiles: --tile takes 16 to 4096");
    } else if (!args[i].empty() && args[i][0] != '-' && file->empty()) {
      *file = args[i];
    } else if (!args[i].empty() && args[i][0] != '-' && folder->empty()) {
      *folder = args[i];
    } else {
      return usage_error(kUsage);
    }
  }
  return folder->empty() ? usage_error(kUsage) : kExitOk;
}

// The levels, the tile count for the progress line and the first level held whole.
int plan_levels(Pyramid& p) {
  while ((p.tile << p.finest) < std::max(p.width, p.height)) ++p.finest;
  for (int z = 0; z <= p.finest; ++z) {
    const uint64_t cell = p.tile << (p.finest - z);
    p.total += ((p.width + cell - 1) / cell) * ((p.height + cell - 1) / cell);
  }
  int held = p.finest;
  while (held > 0 && p.level(p.width, held) * p.level(p.height, held) * 3 > kHeldBytes) --held;
  return held;
}

// tiles.json: what a web map needs to show the folder.
int write_description(const Pyramid& p) {
  FILE* json = std::fopen((p.folder + "/tiles.json").c_str(), "w");
  if (!json) {
    std::fprintf(stderr, "nitf: %s: cannot write tiles.json\n", p.folder.c_str());
    return kExitFailed;
  }
  std::fprintf(json,
               "{\"width\":%llu,\"height\":%llu,\"tile\":%llu,\"minzoom\":0,\"maxzoom\":%d,"
               "\"layout\":\"z/x/y.png\"}\n",
               static_cast<unsigned long long>(p.width), static_cast<unsigned long long>(p.height),
               static_cast<unsigned long long>(p.tile), p.finest);
  const bool written = std::fclose(json) == 0;
  if (written)
    std::printf("nitf: wrote %d levels of tiles into %s\n", p.finest + 1, p.folder.c_str());
  return written ? kExitOk : kExitFailed;
}

}  // namespace

int run_tiles(const std::vector<std::string>& args) {
  std::string file, folder;
  long tile = 256;
  if (int status = parse_tiles(args, &file, &folder, &tile); status != kExitOk) return status;
  Document doc;
  if (int r = doc.open(file); r != RET_SUCCESS) return fail(file, r);
  uint32_t width = 0, height = 0;
  if (int r = GetActual_Width_Height(doc.get(), &width, &height); r != RET_SUCCESS)
    return fail(file, r);
  if (width == 0 || height == 0) return fail(file, RET_INVALID_PARAMETER);
  Pyramid p;
  p.doc = doc.get(), p.file = file, p.folder = folder;
  p.tile = static_cast<uint64_t>(tile), p.width = width, p.height = height;
  const int held = plan_levels(p);
  int r = kExitOk;
  if (held < p.finest) r = write_finest(p);
  for (int z = p.finest - 1; r == kExitOk && z > held; --z) r = write_by_tile(p, z);
  if (r == kExitOk) r = write_held(p, held);
  if (r != kExitOk) return r;
  p.progress.done();
  return write_description(p);
}

}  // namespace cli
