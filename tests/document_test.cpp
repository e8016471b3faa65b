// The document: segment positioning over real and generated files, the parse of
// truncated files, and the record lists.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "testing.h"

namespace {

using namespace testing_support;
using nitf::SegmentKind;

std::string bytes_at(const std::string& file, std::int64_t at, std::size_t n) {
  if (at < 0 || static_cast<std::size_t>(at) > file.size()) return "";
  return file.substr(static_cast<std::size_t>(at), n);
}

bool refused_version(const fs::path& p) {
  return p.filename() == "U_0006A.NTF";
}

// Every subheader of every real sample starts with its kind's two letters where the
// length tables say, and the segments end exactly at FL.
TEST(SegmentPositions, RealSamples) {
  REQUIRE_SAMPLES();
  int checked = 0;
  for (const fs::path& path : all_samples()) {
    if (refused_version(path)) continue;
    SCOPED_TRACE(path.string());
    std::string file = nitfgen::read_file(path.string());
    Parsed p = read_header_only(path);
    ASSERT_EQ(p.result, RET_SUCCESS);
    const NitfDocument& d = *p.document;
    const auto& h = d.header;
    if (d.image_count) {
      EXPECT_EQ(nitf::segment_offset(d, SegmentKind::kImage, 0), h.hl_source);
    }
    struct {
      SegmentKind kind;
      std::int32_t count;
      const char* magic;
    } kinds[] = {{SegmentKind::kImage, h.images.count, "IM"},
                 {SegmentKind::kGraphic, h.graphics.count, "SY"},
                 {SegmentKind::kText, h.texts.count, "TE"},
                 {SegmentKind::kDataExtension, h.des.count, "DE"}};
    std::int64_t end = h.hl_source;
    for (const auto& k : kinds) {
      for (std::int32_t i = 0; i < k.count; ++i) {
        std::int64_t at = nitf::segment_offset(d, k.kind, static_cast<std::uint32_t>(i));
        EXPECT_EQ(at, end) << "segments follow one another";
        EXPECT_EQ(bytes_at(file, at, 2), k.magic) << "segment " << i;
        std::int64_t data = nitf::segment_data_offset(d, k.kind, static_cast<std::uint32_t>(i));
        const nitf::LengthTables* t = k.kind == SegmentKind::kImage     ? &h.images
                                      : k.kind == SegmentKind::kGraphic ? &h.graphics
                                      : k.kind == SegmentKind::kText    ? &h.texts
                                                                        : &h.des;
        EXPECT_EQ(data, at + static_cast<std::int64_t>(t->subheader(i)));
        end = data + static_cast<std::int64_t>(t->data(i));
        ++checked;
      }
    }
    EXPECT_EQ(end, h.fl_source);
    EXPECT_LE(h.fl_source, static_cast<std::int64_t>(file.size()));  // some carry a trailing byte
  }
  EXPECT_GT(checked, 40);
}

// Every real NITF 2.1 file parses completely; the refusals are the ones the reader
// documents (other versions, and 16 bits per sample in more than one band).
TEST(Parse, EveryRealSample) {
  REQUIRE_SAMPLES();
  std::size_t before = kernel::live_objects();
  for (const fs::path& path : all_samples()) {
    std::string name = path.filename().string();
    int expected = refused_version(path) ? RET_UNSUPPORTED_VERSION
                   : name.rfind("rgb16", 0) == 0 || name.rfind("066_", 0) == 0 ? RET_UNSUPPORTED_BPP
                                                                               : RET_SUCCESS;
    MessageCapture quiet;
    Parsed p = parse(path);
    EXPECT_EQ(p.result, expected) << name;
    if (p.result != RET_SUCCESS) continue;
    const NitfDocument& d = *p.document;
    EXPECT_EQ(nitf::count_present(d.images), static_cast<std::uint32_t>(d.header.images.count));
    EXPECT_EQ(nitf::count_present(d.texts), static_cast<std::uint32_t>(d.header.texts.count));
    EXPECT_EQ(d.des.size(), static_cast<std::size_t>(d.header.des.count));
  }
  EXPECT_EQ(kernel::live_objects(), before);
}

TEST(SegmentPositions, GeneratedFileAndSourceCounts) {
  TempDir dir;
  nitfgen::FileSpec layout;
  layout.images = {{"IM" + std::string(98, 'a'), std::string(1000, '1')},
                   {"IM" + std::string(48, 'b'), std::string(10, '2')}};
  layout.graphics = {{"SY" + std::string(20, 'c'), std::string(33, '3')}};
  layout.texts = {{"TE" + std::string(10, 'd'), "text"}};
  layout.des = {{"DE" + std::string(5, 'e'), "des data"}};
  std::string file = nitfgen::build(layout);
  Parsed p = read_header_only(dir.write("g.ntf", file));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument& d = *p.document;
  std::int64_t hl = d.header.hl_source;
  EXPECT_EQ(nitf::segment_offset(d, SegmentKind::kImage, 1), hl + 1100);
  EXPECT_EQ(nitf::segment_offset(d, SegmentKind::kGraphic, 0), hl + 1160);
  EXPECT_EQ(nitf::segment_offset(d, SegmentKind::kText, 0), hl + 1160 + 55);
  EXPECT_EQ(nitf::segment_data_offset(d, SegmentKind::kText, 0), hl + 1160 + 55 + 12);
  EXPECT_EQ(nitf::segment_offset(d, SegmentKind::kDataExtension, 0), hl + 1160 + 55 + 16);
  EXPECT_EQ(nitf::segment_offset(d, static_cast<SegmentKind>(3), 0), -1);
  // An index beyond the table counts its missing entries as 0.
  EXPECT_EQ(nitf::segment_offset(d, SegmentKind::kImage, 5), hl + 1160);

  // Appended segments (more records than the source holds) do not move source segments.
  d.image_count = 3;
  d.text_count = 2;
  EXPECT_EQ(nitf::segment_offset(d, SegmentKind::kDataExtension, 0), hl + 1160 + 55 + 16);

  EXPECT_EQ(nitf::position_at_segment_data(&d, SegmentKind::kGraphic, 0), hl + 1160 + 22);
  char magic[4] = {};
  ASSERT_EQ(kernel::read_file(d.file, magic, 3), 3u);
  EXPECT_STREQ(magic, "333");

  // An appended image with none in the source adds nothing before the text.
  layout.images.clear();
  layout.graphics.clear();
  layout.des.clear();
  Parsed t = read_header_only(dir.write("t.ntf", nitfgen::build(layout)));
  ASSERT_EQ(t.result, RET_SUCCESS);
  t.document->image_count = 1;
  EXPECT_EQ(nitf::segment_offset(*t.document, SegmentKind::kText, 0), t.document->header.hl_source);
}

TEST(Document, RecordListsAndTheirRelease) {
  std::size_t before = kernel::live_objects();
  {
    auto d = kernel::make_tracked<NitfDocument>();
    d->image_count = 2;
    d->graphic_count = 1;
    d->text_count = 3;
    d->des_count = 1;
    std::vector<std::string> debug;
    kernel::set_debug_sink(
        [](void* user, const char* text) {
          static_cast<std::vector<std::string>*>(user)->push_back(text);
        },
        &debug);
    ASSERT_EQ(nitf::allocate_segment_objects(d.get()), RET_SUCCESS);
    EXPECT_EQ(nitf::count_present(d->images), 2u);
    EXPECT_EQ(nitf::count_present(d->texts), 3u);
    EXPECT_EQ(d->texts[2]->index, 2u);
    EXPECT_EQ(d->texts[2]->document, d.get());
    EXPECT_EQ(kernel::live_objects(kernel::ObjectKind::kRecord), 1u + 7u);
    nitf::release_document_objects(d.get());
    kernel::set_debug_sink(nullptr, nullptr);
    EXPECT_EQ(debug, (std::vector<std::string>{"\nAllocateObjects\n", "\nFreeObjects\n"}));
    EXPECT_TRUE(d->images.empty());
  }
  EXPECT_EQ(kernel::live_objects(), before);
}

// Cutting a real file anywhere gives a code, never a crash or a read past the end.
TEST(Truncation, EveryCutOfEverySampleGivesACode) {
  REQUIRE_SAMPLES();
  TempDir dir;
  fs::path cut = dir.file("cut.ntf");
  std::size_t before = kernel::live_objects();
  for (const fs::path& path : all_samples()) {
    SCOPED_TRACE(path.string());
    std::string file = nitfgen::read_file(path.string());
    Parsed whole = read_header_only(path);
    std::size_t hl = whole.result == RET_SUCCESS
                         ? static_cast<std::size_t>(whole.document->header.hl_source)
                         : 400;
    whole.document.reset();
    // Every cut inside the header, then a sample of cuts beyond it; written once and
    // shortened in place from the longest cut down.
    std::vector<std::size_t> cuts;
    for (std::size_t n = 0; n < file.size(); n += n < hl + 64 ? 1 : 4093) cuts.push_back(n);
    ASSERT_TRUE(nitfgen::write_file(cut.string(), file));
    for (auto it = cuts.rbegin(); it != cuts.rend(); ++it) {
      ASSERT_EQ(::truncate(cut.c_str(), static_cast<off_t>(*it)), 0);
      Parsed p = parse(cut);
      if (*it < hl) {
        EXPECT_LT(p.result, RET_SUCCESS) << "cut at " << *it;
      }
    }
  }
  EXPECT_EQ(kernel::live_objects(), before);
}

}  // namespace
