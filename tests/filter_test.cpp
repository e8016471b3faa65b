// The filter entry points as the toolkit's file-format library calls them: fltInfo's
// file-information record, fltLoad's rows and flags and its required request words,
// the load-option bits, fltSave, and Kv_NitfDrawObjects on a caller's own context.
// Files come from nitfgen; the expected rows are worked out from the generated pixels.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nitfgen_image.h"
#include "nitfgen_segments.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitfgen::ImageSpec;

using FilterInfo = LeakChecked;
using FilterLoad = LeakChecked;
using FilterDraw = LeakChecked;

// The background of every generated file: red 0x11, green 0x22, blue 0x33.
const std::string kBackgroundBytes("\x11\x22\x33", 3);

// An 8-bit grey image of blocks x blocks equal blocks.
ImageSpec grey_image(long long columns, long long rows, int blocks = 1) {
  ImageSpec s;
  s.ncols = columns;
  s.nrows = rows;
  s.nbpr = s.nbpc = blocks;
  s.nppbh = static_cast<int>(columns / blocks);
  s.nppbv = static_cast<int>(rows / blocks);
  return s;
}

fs::path file_with(const TempDir& dir, const std::vector<std::pair<ImageSpec, std::string>>& images,
                   bool with_text = false) {
  nitfgen::FileSpec file;
  file.fields["FBKGC"] = kBackgroundBytes;
  for (const auto& [layout, pixels] : images)
    file.images.push_back(nitfgen::image_segment(layout, pixels));
  if (with_text) file.texts.push_back({nitfgen::text_subheader(), "text"});
  return dir.write("filter.ntf", nitfgen::build(file));
}

struct Info {
  std::unique_ptr<FltFileInfo> record = std::make_unique<FltFileInfo>();
  FltLoadOptions options{};
  int result = 0;
};

Info info_of(const fs::path& path, std::uint32_t flags = 0) {
  Info out;
  std::wstring name = wide(path);
  out.options.flags = flags;
  FltInfoRequest request{};
  request.file_name = name.c_str();
  request.file_handle = -1;
  request.file_info = out.record.get();
  request.load_options = &out.options;
  out.result = fltInfo(&request);
  return out;
}

// ----- fltInfo ----------------------------------------------------------------------

TEST_F(FilterInfo, DescribesTheCanvasAsTwentyFourBits) {
  TempDir dir;
  Info i = info_of(file_with(dir, {{grey_image(1000, 800), ""}}));
  ASSERT_EQ(i.result, RET_SUCCESS);
  EXPECT_EQ(i.record->format, 248u);
  EXPECT_EQ(i.record->width, 1000u);
  EXPECT_EQ(i.record->height, 800u);
  EXPECT_EQ(i.record->bits_per_pixel, 24u);
  EXPECT_EQ(i.record->image_size_low, 2400000u);
  EXPECT_EQ(i.record->image_size_high, 0u);
  EXPECT_EQ(i.record->word_1100, 1u);
  EXPECT_EQ(i.record->word_1104, 1u);
  EXPECT_EQ(i.options.flags, 0x80000001u) << "the module marks the options it read";

  Info odd = info_of(file_with(dir, {{grey_image(1001, 800), ""}}));
  ASSERT_EQ(odd.result, RET_SUCCESS);
  EXPECT_EQ(odd.record->image_size_low, 3004u * 800u) << "rows rounded up to 4 bytes";
}

TEST_F(FilterInfo, SizeBeyondFourGigabytesFillsTheHighWord) {
  TempDir dir;
  // 40000 x 40000 at 24 bits: 4 800 000 000 bytes; the default cap would refuse it.
  auto path = file_with(dir, {{grey_image(40000, 40000, 8), ""}});
  kernel::set_allocation_cap(std::size_t{1} << 40);
  Info i = info_of(path);
  kernel::set_allocation_cap(0);
  ASSERT_EQ(i.result, RET_SUCCESS);
  const std::uint64_t size =
      std::uint64_t{i.record->image_size_high} << 32 | i.record->image_size_low;
  EXPECT_EQ(size, 4800000000u);

  Info refused = info_of(path);
  EXPECT_EQ(refused.result, RET_NO_MEMORY) << "beyond the default allocation cap";
  EXPECT_EQ(refused.record->format, 0u) << "the record is written only on success";
}

TEST_F(FilterInfo, OptionsAndFailures) {
  TempDir dir;
  auto path = file_with(dir, {{grey_image(16, 8), ""}});
  Info fixed = info_of(path, KV_LOAD_FIXED_CANVAS);
  ASSERT_EQ(fixed.result, RET_SUCCESS);
  EXPECT_EQ(fixed.record->width, 2048u);
  EXPECT_EQ(fixed.record->height, 2048u);
  EXPECT_EQ(fixed.options.flags, 0x80000001u | KV_LOAD_FIXED_CANVAS);

  Info missing = info_of(dir.file("absent.ntf"));
  EXPECT_EQ(missing.result, RET_FILE_NOT_FOUND);
  EXPECT_EQ(missing.record->format, 0u);

  nitfgen::FileSpec old;
  old.fields["FVER"] = "02.00";
  Info refused = info_of(dir.write("old.ntf", nitfgen::build(old)));
  EXPECT_EQ(refused.result, RET_UNSUPPORTED_VERSION);
  EXPECT_EQ(refused.record->width, 0u);

  EXPECT_EQ(fltInfo(nullptr), RET_INVALID_PARAMETER);
}

// ----- fltLoad ----------------------------------------------------------------------

struct Row {
  std::int32_t flags, number, count;
  std::string bytes;  // the first bytes of the row
  bool context_ok, target_ok;
};

struct Loader {
  static constexpr int kContext = 0;
  std::vector<Row> rows;
  std::int32_t stop_at = -1;  // row number whose callback answers `answer`
  std::int32_t answer = 0;
  std::size_t keep = 12;
  FltTargetDescription target{};
  FltLoadOptions options{};
  std::unique_ptr<FltLoadRequest> request = std::make_unique<FltLoadRequest>();
  std::wstring name;

  static int32_t KV_CALL on_row(void* context, FltTargetDescription* target, uint8_t* row,
                                int32_t flags, int32_t number, int32_t count, void* user) {
    auto* self = static_cast<Loader*>(user);
    self->rows.push_back({flags, number, count,
                          std::string(reinterpret_cast<const char*>(row), self->keep),
                          context == &kContext, target == &self->target});
    return number == self->stop_at ? self->answer : 1;
  }
  static int32_t KV_CALL no_memory_loader(const void*, KvBitmap*, uint32_t, int32_t, int32_t,
                                          uint32_t, FltLoadOptions*) {
    return RET_NOT_SUPPORTED;
  }
  static FltRawDataCallback KV_CALL no_raw(FltRawDataCallback, void*) { return nullptr; }

  Loader(const fs::path& path, int bits_per_pixel, std::uint32_t flags = 0) : name(wide(path)) {
    target.bits_per_pixel = bits_per_pixel;
    options.flags = flags;
    request->file_name = name.c_str();
    request->target = &target;
    request->row_callback = on_row;
    request->user_data = this;
    request->callback_context = const_cast<int*>(&kContext);
    request->load_options = &options;
    request->load_from_memory = no_memory_loader;
    request->set_raw_callback = no_raw;
    request->required = 1;
  }
  int load() { return fltLoad(request.get()); }
};

std::string grey_bytes(std::uint8_t v, int pixels, int bytes_per_pixel) {
  std::string out;
  for (int i = 0; i < pixels; ++i) {
    out.append(3, static_cast<char>(v));
    if (bytes_per_pixel == 4) out += '\0';
  }
  return out;
}

TEST_F(FilterLoad, RowsTopFirstWithTheirFlags) {
  TempDir dir;
  std::string pixels;
  for (int y = 0; y < 3; ++y) pixels += std::string(4, static_cast<char>(10 * (y + 1)));
  auto path = file_with(dir, {{grey_image(4, 3), pixels}});
  for (int bpp : {24, 32}) {
    Loader l(path, bpp);
    l.keep = static_cast<std::size_t>(4 * bpp / 8);
    ASSERT_EQ(l.load(), RET_SUCCESS) << bpp;
    ASSERT_EQ(l.rows.size(), 3u);
    const std::int32_t flags[] = {3 | 4, 3, 3 | 8};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(l.rows[i].number, i);
      EXPECT_EQ(l.rows[i].flags, flags[i]);
      EXPECT_EQ(l.rows[i].count, 1);
      EXPECT_TRUE(l.rows[i].context_ok && l.rows[i].target_ok);
      EXPECT_EQ(l.rows[i].bytes, grey_bytes(static_cast<std::uint8_t>(10 * (i + 1)), 4, bpp / 8))
          << "row " << i << " at " << bpp << " bits";
    }
  }
  Loader one(file_with(dir, {{grey_image(4, 1), std::string(4, '\x01')}}), 24);
  ASSERT_EQ(one.load(), RET_SUCCESS);
  ASSERT_EQ(one.rows.size(), 1u);
  EXPECT_EQ(one.rows[0].flags, 15) << "a one-row picture is first and last";
}

TEST_F(FilterLoad, BackgroundOfATextOnlyFile) {
  TempDir dir;
  Loader l(file_with(dir, {}, true), 24);
  l.keep = 6;
  ASSERT_EQ(l.load(), RET_SUCCESS);
  ASSERT_EQ(l.rows.size(), 2u) << "a 2 x 2 canvas";
  EXPECT_EQ(l.rows[1].bytes, std::string("\x33\x22\x11\x33\x22\x11", 6)) << "blue, green, red";
}

TEST_F(FilterLoad, CallbackAnswerStopsTheLoad) {
  TempDir dir;
  auto path = file_with(dir, {}, true);
  Loader l(path, 24, KV_LOAD_FIXED_CANVAS);
  l.stop_at = 4;
  EXPECT_EQ(l.load(), 0);
  EXPECT_EQ(l.rows.size(), 5u) << "the fifth row was the last";

  Loader other(path, 24, KV_LOAD_FIXED_CANVAS);
  other.stop_at = 0;
  other.answer = 7;
  EXPECT_EQ(other.load(), 7) << "the callback's own value";
  EXPECT_EQ(other.rows.size(), 1u);

  Loader all(path, 8, KV_LOAD_FIXED_CANVAS);
  EXPECT_EQ(all.load(), RET_SUCCESS);
  EXPECT_EQ(all.rows.size(), 2048u);
}

TEST_F(FilterLoad, EnhancementOptionReachesTheImages) {
  TempDir dir;
  std::string dark(16, '\x04');
  dark[15] = 16;
  auto path = file_with(dir, {{grey_image(4, 4), dark}});
  for (bool enhance : {false, true}) {
    Loader l(path, 24, enhance ? KV_LOAD_ENHANCE : 0);
    ASSERT_EQ(l.load(), RET_SUCCESS);
    ASSERT_EQ(l.rows.size(), 4u);
    EXPECT_EQ(static_cast<std::uint8_t>(l.rows[3].bytes[9]), enhance ? 255 : 16);
  }
}

TEST_F(FilterLoad, RequiredWordsAndArguments) {
  TempDir dir;
  auto path = file_with(dir, {}, true);
  for (int missing = 0; missing < 3; ++missing) {
    Loader l(path, 24);
    if (missing == 0) l.request->load_from_memory = nullptr;
    if (missing == 1) l.request->set_raw_callback = nullptr;
    if (missing == 2) l.request->required = 0;
    EXPECT_EQ(l.load(), RET_FILE_FORMAT) << "word " << missing;
    EXPECT_TRUE(l.rows.empty());
    EXPECT_EQ(l.options.flags, 0u) << "refused before the options are read";
  }
  Loader absent(dir.file("absent.ntf"), 24);
  EXPECT_EQ(absent.load(), RET_FILE_NOT_FOUND);
  Loader odd(path, 7);
  EXPECT_EQ(odd.load(), RET_INVALID_PARAMETER) << "no canvas of 7 bits";
  EXPECT_TRUE(odd.rows.empty());
  EXPECT_EQ(fltLoad(nullptr), RET_INVALID_PARAMETER);
}

TEST_F(FilterLoad, SegmentFailureIsTheResult) {
  TempDir dir;
  ImageSpec jpeg = grey_image(8, 8);
  jpeg.ic = "C3";
  jpeg.comrat = "00.0";
  Loader l(file_with(dir, {{jpeg, "not a JPEG stream"}}), 24);
  EXPECT_LT(l.load(), RET_SUCCESS);
  EXPECT_TRUE(l.rows.empty());
}

TEST_F(FilterLoad, SaveIsNotOffered) {
  EXPECT_EQ(fltSave(nullptr), RET_NOT_SUPPORTED);
  int anything = 0;
  EXPECT_EQ(fltSave(&anything), RET_NOT_SUPPORTED);
}

// ----- Kv_NitfDrawObjects -----------------------------------------------------------

TEST_F(FilterDraw, DrawsOntoTheCallersContext) {
  TempDir dir;
  ImageSpec placed = grey_image(2, 2);
  placed.iloc_row = 1;
  placed.iloc_column = 2;
  Parsed p = parse(file_with(dir, {{placed, std::string(4, '\x50')}}));
  ASSERT_EQ(p.result, RET_SUCCESS);
  kernel::Bitmap canvas;
  ASSERT_EQ(kernel::create_bitmap(&canvas, kernel::kBitmapRecordSize, 1, 6, 4, 32,
                                  kernel::kColourRgb, nullptr, kernel::kViewTopDown, nullptr, 0),
            RET_SUCCESS);
  kernel::DrawingContext* dc = kernel::device_context_for_bitmap(&canvas);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(Kv_NitfDrawObjects(nullptr, reinterpret_cast<KvDrawingContext*>(dc), nullptr,
                               p.document.get()),
            RET_SUCCESS);
  // A place past the 32-bit canvas coordinates is refused, not wrapped onto the canvas.
  p.document->images[0]->location_column = 0x7FFFFFFF;
  EXPECT_EQ(Kv_NitfDrawObjects(nullptr, reinterpret_cast<KvDrawingContext*>(dc), nullptr,
                               p.document.get()),
            RET_FILE_FORMAT);
  kernel::delete_device_context(dc);
  const std::uint8_t* row1 = kernel::storage_row(canvas, 1);
  EXPECT_EQ(row1[4 * 1], 0) << "left of the image: untouched";
  EXPECT_EQ(row1[4 * 2], 0x50);
  EXPECT_EQ(row1[4 * 3 + 2], 0x50);
  EXPECT_EQ(kernel::storage_row(canvas, 0)[4 * 2], 0) << "above the image: untouched";
  kernel::free_bitmap(&canvas);
}

}  // namespace
