// The composition's short ways give the pixels of the plain way. fltLoad may read an
// image straight into its canvas, convert blocks straight into the image's bitmap, leave
// a background of zeros unwritten and hand rows over in place; Kv_NitfDrawObjects on a
// caller's context does none of that: every image is read into a bitmap of its own and
// painted onto a canvas filled with the background. Both must deliver the same rows,
// byte for byte, on generated files of every layout the short ways take (and some they
// must refuse) and on the real samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <kvntfu.h>

#include "fileformat/fileformat.h"
#include "nitfgen_image.h"
#include "nitfgen_jpeg.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitfgen::BandSpec;
using nitfgen::ImageSpec;

constexpr std::uint32_t kNone = 0xFFFFFFFF;

struct Rows {
  int result = 0;
  std::vector<std::string> rows;  // top row first, bytes_per_line bytes each
};

int32_t KV_CALL host_loader(const void* buffer, KvBitmap* bitmap, uint32_t size, int32_t bits,
                            int32_t order, uint32_t count, FltLoadOptions* options) {
  return fileformat::load_from_memory(buffer, reinterpret_cast<kernel::Bitmap*>(bitmap), size, bits,
                                      order, count, options);
}
FltRawDataCallback KV_CALL host_raw(FltRawDataCallback callback, void* user) {
  return fileformat::set_raw_data_callback(callback, user);
}

struct Collector {
  std::size_t bytes = 0;
  Rows out;
  static int32_t KV_CALL on_row(void*, FltTargetDescription*, uint8_t* row, int32_t, int32_t,
                                int32_t, void* user) {
    auto* self = static_cast<Collector*>(user);
    self->out.rows.emplace_back(reinterpret_cast<const char*>(row), self->bytes);
    return 1;
  }
};

// What fltLoad delivers.
Rows loaded(const fs::path& path, int bits_per_pixel) {
  Parsed p = parse(path);
  std::uint32_t width = 0, height = 0;
  if (p.result < RET_SUCCESS ||
      GetActual_Width_Height(p.document.get(), &width, &height) != RET_SUCCESS)
    return {};
  Collector c;
  c.bytes = (std::size_t{width} * bits_per_pixel + 31) / 32 * 4;
  const std::wstring name = wide(path);
  FltTargetDescription target{};
  target.bits_per_pixel = bits_per_pixel;
  FltLoadOptions options{};
  auto request = std::make_unique<FltLoadRequest>();
  request->file_name = name.c_str();
  request->target = &target;
  request->row_callback = Collector::on_row;
  request->user_data = &c;
  request->load_options = &options;
  request->load_from_memory = host_loader;
  request->set_raw_callback = host_raw;
  request->required = 1;
  c.out.result = fltLoad(request.get());
  return c.out;
}

// The plain way on a canvas made as the composition makes its own.
Rows plain(const fs::path& path, int bits_per_pixel) {
  Parsed p = parse(path);
  std::uint32_t width = 0, height = 0;
  Rows out;
  if (p.result < RET_SUCCESS ||
      GetActual_Width_Height(p.document.get(), &width, &height) != RET_SUCCESS)
    return out;
  kernel::Bitmap canvas;
  if (kernel::create_bitmap(&canvas, kernel::kBitmapRecordSize, 1, std::int32_t(width),
                            std::int32_t(height), bits_per_pixel, kernel::kColourRgb, nullptr,
                            kernel::kViewBottomUp, nullptr, 0) != RET_SUCCESS)
    return out;
  kernel::fill_bitmap(&canvas, p.document->background);
  kernel::DrawingContext* dc = kernel::device_context_for_bitmap(&canvas);
  out.result = Kv_NitfDrawObjects(nullptr, reinterpret_cast<KvDrawingContext*>(dc), nullptr,
                                  p.document.get());
  kernel::delete_device_context(dc);
  for (std::int32_t i = 0; out.result == RET_SUCCESS && i < canvas.height; ++i)
    out.rows.emplace_back(
        reinterpret_cast<const char*>(kernel::storage_row(canvas, canvas.height - 1 - i)),
        std::size_t(canvas.bytes_per_line));
  kernel::free_bitmap(&canvas);
  return out;
}

void expect_same_rows(const fs::path& path, const std::string& what,
                      const std::vector<int>& depths = {8, 24, 32}) {
  for (int bits : depths) {
    const Rows a = loaded(path, bits), b = plain(path, bits);
    EXPECT_EQ(a.result, b.result) << what << ", " << bits << " bits";
    if (a.result != RET_SUCCESS || b.result != RET_SUCCESS) continue;
    ASSERT_EQ(a.rows.size(), b.rows.size()) << what;
    std::size_t differing = 0;
    for (std::size_t y = 0; y < a.rows.size(); ++y) differing += a.rows[y] != b.rows[y];
    EXPECT_EQ(differing, 0u) << what << ", " << bits << " bits: rows that differ";
  }
}

// A picture that is neither flat nor noise.
std::uint8_t value_at(int x, int y, int band) {
  return static_cast<std::uint8_t>((x * 7 + y * 13) ^ (band * 85) ^ (x * y));
}

// The samples of every block in file order, `bytes` bytes each, in the layout of IMODE
// B (each block its band planes), P (pixels), R (rows of one band after another) or S
// (every block of band 0, then of band 1 ...); blocks in `left_out` are not written.
std::string pixels(const ImageSpec& s, int bands, int bytes,
                   const std::vector<int>& left_out = {}) {
  std::string out;
  auto sample = [&](int bx, int by, int x, int y, int band) {
    for (int i = 0; i < bytes; ++i)
      out += char(value_at(bx * s.nppbh + x, by * s.nppbv + y, band) + i * 3);
  };
  auto kept = [&](int k) {
    return std::find(left_out.begin(), left_out.end(), k) == left_out.end();
  };
  const bool sequential = s.imode == "S";
  for (int pass = 0; pass < (sequential ? bands : 1); ++pass)
    for (int by = 0; by < s.nbpc; ++by)
      for (int bx = 0; bx < s.nbpr; ++bx) {
        if (!kept(by * s.nbpr + bx)) continue;
        if (sequential || bands == 1) {
          for (int y = 0; y < s.nppbv; ++y)
            for (int x = 0; x < s.nppbh; ++x) sample(bx, by, x, y, pass);
        } else if (s.imode == "P") {
          for (int y = 0; y < s.nppbv; ++y)
            for (int x = 0; x < s.nppbh; ++x)
              for (int b = 0; b < bands; ++b) sample(bx, by, x, y, b);
        } else if (s.imode == "R") {
          for (int y = 0; y < s.nppbv; ++y)
            for (int b = 0; b < bands; ++b)
              for (int x = 0; x < s.nppbh; ++x) sample(bx, by, x, y, b);
        } else {
          for (int b = 0; b < bands; ++b)
            for (int y = 0; y < s.nppbv; ++y)
              for (int x = 0; x < s.nppbh; ++x) sample(bx, by, x, y, b);
        }
      }
  return out;
}

ImageSpec blocked(int per_row, int per_column, int width, int height, int bands) {
  ImageSpec s;
  s.nbpr = per_row;
  s.nbpc = per_column;
  s.nppbh = width;
  s.nppbv = height;
  s.ncols = per_row * width;
  s.nrows = per_column * height;
  if (bands == 3) {
    s.irep = "RGB";
    s.bands = {BandSpec{"R"}, BandSpec{"G"}, BandSpec{"B"}};
  }
  return s;
}

fs::path file_of(const TempDir& dir, const std::string& name,
                 const std::vector<std::pair<ImageSpec, std::string>>& images,
                 const std::string& background) {
  nitfgen::FileSpec file;
  for (const auto& [layout, data] : images)
    file.images.push_back(nitfgen::image_segment(layout, data));
  file.fields["FBKGC"] = background;
  return dir.write(name, nitfgen::build(file));
}

TEST(RenderPaths, GeneratedLayoutsGiveThePlainRows) {
  TempDir dir;
  std::vector<std::pair<std::string, std::vector<std::pair<ImageSpec, std::string>>>> files;
  {
    ImageSpec s = blocked(1, 1, 37, 21, 1);
    files.push_back({"mono one block", {{s, pixels(s, 1, 1)}}});
  }
  for (const char* imode : {"B", "P", "R", "S"}) {
    ImageSpec s = blocked(3, 2, 12, 7, 3);
    s.imode = imode;
    files.push_back({std::string("RGB IMODE ") + imode, {{s, pixels(s, 3, 1)}}});
  }
  {
    ImageSpec s = blocked(2, 3, 9, 5, 1);
    s.nbpp = 16;
    s.abpp = 11;
    files.push_back({"16-bit ABPP 11 blocks", {{s, pixels(s, 1, 2)}}});
  }
  {  // one block, and masked blocks: grey levels of 16 bits written straight as canvas bytes
    ImageSpec one = blocked(1, 1, 23, 9, 1), masked = blocked(3, 2, 8, 6, 1);
    for (ImageSpec* s : {&one, &masked}) {
      s->nbpp = 16;
      s->abpp = 11;
    }
    masked.ic = "NM";
    masked.imode = "B";
    nitfgen::MaskSpec mask;
    mask.block_records = {0, 96, kNone, 192, kNone, 288};
    masked.mask = mask;
    files.push_back({"16-bit ABPP 11 one block", {{one, pixels(one, 1, 2)}}});
    files.push_back({"16-bit masked blocks left out", {{masked, pixels(masked, 1, 2, {2, 4})}}});
  }
  {
    ImageSpec s = blocked(3, 2, 5, 4, 1);  // odd block width: 12-bit blocks start mid-byte
    s.nbpp = s.abpp = 12;
    std::string data((s.nbpr * s.nbpc * s.nppbh * s.nppbv * 12 + 7) / 8, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = char(value_at(int(i), 3, 0));
    files.push_back({"12-bit blocks", {{s, data}}});
  }
  {
    ImageSpec s = blocked(3, 2, 8, 6, 1);
    s.ic = "NM";
    s.imode = "B";
    nitfgen::MaskSpec mask;
    const std::uint32_t block = 8 * 6;
    mask.block_records = {0, block, kNone, 2 * block, kNone, 3 * block};
    s.mask = mask;
    files.push_back({"masked blocks left out", {{s, pixels(s, 1, 1, {2, 4})}}});
  }
  {
    ImageSpec s = blocked(2, 2, 16, 16, 3);
    s.ic = "C3";
    s.comrat = "00.0";
    s.imode = "P";
    std::string data;
    for (int by = 0; by < 2; ++by)
      for (int bx = 0; bx < 2; ++bx)
        data += nitfgen::jpeg_stream(16, 16, 3, 90, [&](int x, int y) {
          const int gx = bx * 16 + x, gy = by * 16 + y;
          return std::uint32_t{value_at(gx, gy, 0)} << 16 |
                 std::uint32_t{value_at(gx, gy, 1)} << 8 | value_at(gx, gy, 2);
        });
    files.push_back({"C3 blocks", {{s, data}}});
  }
  for (int bands : {1, 3}) {  // one stream, decoded straight into the canvas when it fits
    ImageSpec s = blocked(1, 1, 24, 16, bands);
    s.ic = "C3";
    s.comrat = "00.0";
    if (bands == 3) s.imode = "P";
    const std::string data = nitfgen::jpeg_stream(24, 16, bands, 90, [bands](int x, int y) {
      if (bands == 1) return std::uint32_t{value_at(x, y, 0)};
      return std::uint32_t{value_at(x, y, 0)} << 16 | std::uint32_t{value_at(x, y, 1)} << 8 |
             value_at(x, y, 2);
    });
    files.push_back({bands == 3 ? "C3 RGB one block" : "C3 mono one block", {{s, data}}});
  }
  {
    ImageSpec lut = blocked(1, 1, 10, 10, 1);  // a colour table: not the canvas's palette
    lut.irep = "RGB/LUT";
    lut.bands = {BandSpec{"LU"}};
    std::string table(3 * 256, '\0');
    for (int i = 0; i < 256; ++i) table[i] = table[256 + i] = table[512 + i] = char(255 - i);
    lut.bands[0].luts = {table.substr(0, 256), table.substr(256, 256), table.substr(512, 256)};
    files.push_back({"colour table", {{lut, pixels(lut, 1, 1)}}});
  }
  {
    ImageSpec under = blocked(2, 2, 10, 10, 1), over = blocked(1, 1, 6, 6, 1);
    over.idlvl = 2;
    over.iloc_row = 3;
    over.iloc_column = 4;
    files.push_back(
        {"image over image", {{under, pixels(under, 1, 1)}, {over, pixels(over, 1, 1)}}});
  }
  {
    ImageSpec small = blocked(1, 1, 6, 6, 1), big = blocked(1, 1, 12, 9, 3);
    big.idlvl = 2;
    files.push_back(
        {"first image does not cover", {{small, pixels(small, 1, 1)}, {big, pixels(big, 3, 1)}}});
  }
  for (const auto& background : {std::string(3, '\0'), std::string("\x11\x22\x33", 3)}) {
    int n = 0;
    for (const auto& [what, images] : files) {
      const std::string name = "f" + std::to_string(n++) + ".ntf";
      expect_same_rows(file_of(dir, name, images, background),
                       what + (background[0] ? ", coloured background" : ", black background"));
    }
  }
}

TEST(RenderPaths, SamplesGiveThePlainRows) {
  REQUIRE_SAMPLES();
  // One depth: the samples are many, and the depths are covered above.
  for (const fs::path& path : all_samples()) expect_same_rows(path, path.filename().string(), {24});
}

}  // namespace
