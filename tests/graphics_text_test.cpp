// Text and data extension segments: the text segment export, and which data extensions
// carry the overflow fields. (The readers of graphic, text and data extension subheaders
// are checked with every kind's field table: fields_test, core_test's sweeps.)
#include <gtest/gtest.h>

#include <cstring>

#include "graphics_text/dexsbhdr.h"
#include "graphics_text/txsubhdr.h"
#include "nitfgen_every.h"
#include "nitfgen_segments.h"
#include "testing.h"

namespace {

using namespace testing_support;

// ----- Text segments ---------------------------------------------------------------------

TEST(TextSegment, Arguments) {
  TempDir dir;
  nitfgen::FileSpec layout;
  layout.texts.push_back({nitfgen::text_subheader(), "hello"});
  std::string bytes = nitfgen::build(layout);
  Parsed p = parse(dir.write("text.ntf", bytes));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();
  uint32_t length = 77;
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 1, nullptr, &length), RET_BAD_ARGUMENT);
  EXPECT_EQ(Kv_NITFGetTextSegment(d, -1, nullptr, &length), RET_BAD_ARGUMENT);
  EXPECT_EQ(length, 77u) << "an index out of range changes nothing";
  EXPECT_EQ(Kv_NITFGetTextSegment(nullptr, 0, nullptr, &length), RET_INVALID_DOCUMENT);
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 0, buffer, nullptr), RET_SUCCESS);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(nitf::position_at_segment_data(d, nitf::SegmentKind::kText, 0),
            nitf::segment_offset(*d, nitf::SegmentKind::kText, 0) + 282);
  EXPECT_EQ(nitf::segment_offset(*d, static_cast<nitf::SegmentKind>(3), 0), -1) << "no such kind";
  d->texts[0].reset();  // a list node without a record
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 0, nullptr, &length), RET_SUCCESS);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 0, buffer, nullptr), RET_FAILURE);

  // LT claims one byte more than the file holds: refused before anything is read.
  bytes.replace(bytes.find("028200005") + 4, 5, "00006");  // LTSH 282, LT 5
  Parsed longer = parse(dir.write("long.ntf", bytes));
  ASSERT_EQ(longer.result, RET_SUCCESS);
  buffer[0] = 'x';
  EXPECT_EQ(Kv_NITFGetTextSegment(longer.document.get(), 0, buffer, &length), RET_FILE_READ);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(buffer[0], 'x') << "nothing read";
}

// ----- Data extensions ---------------------------------------------------------------------

// DESOFLW and DESITEM follow DESCTLN only in TRE_OVERFLOW, trailing blanks aside.
TEST(DataExtension, OverflowFields) {
  const std::pair<const char*, bool> cases[] = {{"TRE_OVERFLOW", true},
                                                {" TRE_OVERFLOW            ", false},
                                                {"TRE_OVERFLOWX            ", false}};
  for (const auto& [desid, overflow] : cases) {
    nitf::NitfDesSubheader r(nullptr, 0);
    std::strcpy(r.desid, desid);
    EXPECT_EQ(nitf::des_has_overflow_fields(r), overflow) << "'" << desid << "'";
  }
  TempDir dir;
  Parsed p = parse(dir.write("every.ntf", nitfgen::build(nitfgen::every_part_file())));
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto &overflow = *p.document->des[0], &user = *p.document->des[1];
  EXPECT_STREQ(overflow.desoflw, "UDHD  ");
  EXPECT_STREQ(overflow.desitem, "001");
  EXPECT_STREQ(user.desoflw, "");
  EXPECT_STREQ(user.desshf.data(), "USERFIELDS");
}

}  // namespace
