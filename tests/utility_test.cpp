// Fixed-field formatting: nothing is written outside a field, and nothing is cut.
#include <gtest/gtest.h>

#include <cstring>

#include "core/ntfhdr.h"
#include "testing.h"
#include "fields/utility.h"
#include "writing/utility_setters.h"

namespace {

// A field of `width` inside guard bytes that must survive every call.
struct Guarded {
  char bytes[40];
  explicit Guarded(const char* initial = "") {
    std::memset(bytes, '#', sizeof bytes);
    std::strcpy(bytes + 8, initial);
  }
  char* field() { return bytes + 8; }
  bool guards_intact(int width) const {
    for (int i = 0; i < 8; ++i)
      if (bytes[i] != '#') return false;
    for (int i = 8 + width + 1; i < 40; ++i)
      if (bytes[i] != '#') return false;
    return true;
  }
};

TEST(FixedFields, TextIsSpaceFilledAndNeverCut) {
  Guarded g("OLDVALUE12");
  EXPECT_EQ(nitf::CopyTextField(g.field(), 10, "IDENT"), RET_SUCCESS);
  EXPECT_STREQ(g.field(), "IDENT     ");
  EXPECT_EQ(nitf::CopyTextField(g.field(), 10, "ELEVENCHARS"), RET_INVALID_PARAMETER);
  EXPECT_STREQ(g.field(), "IDENT     ") << "a refused text leaves the field";
  EXPECT_EQ(nitf::CopyTextField(g.field(), 10, "TENCHARS!!"), RET_SUCCESS);
  EXPECT_STREQ(g.field(), "TENCHARS!!");
  EXPECT_EQ(nitf::CopyTextField(g.field(), 10, ""), RET_SUCCESS);
  EXPECT_STREQ(g.field(), "          ");
  EXPECT_TRUE(g.guards_intact(10));
  EXPECT_EQ(nitf::CopyTextField(nullptr, 10, "x"), RET_INVALID_PARAMETER);
  EXPECT_EQ(nitf::CopyTextField(g.field(), 10, nullptr), RET_INVALID_PARAMETER);
}

TEST(FixedFields, NumbersAreZeroFilledAndRefusedWhenTooWide) {
  Guarded g;
  EXPECT_EQ(nitf::FormatNumberField(g.field(), 8, 512), RET_SUCCESS);
  EXPECT_STREQ(g.field(), "00000512");
  EXPECT_EQ(nitf::FormatNumberField(g.field(), 1, 0), RET_SUCCESS);
  EXPECT_STREQ(g.field(), "0");
  EXPECT_EQ(nitf::FormatNumberField(g.field(), 5, -5), RET_SUCCESS);
  EXPECT_STREQ(g.field(), "-0005");
  EXPECT_EQ(nitf::parse_decimal(g.field()), -5) << "the written form reads back";
  EXPECT_EQ(nitf::FormatNumberField(g.field(), 5, 99999), RET_SUCCESS);
  EXPECT_EQ(nitf::FormatNumberField(g.field(), 5, 100000), RET_INVALID_PARAMETER);
  EXPECT_STREQ(g.field(), "99999") << "a refused number leaves the field";
  EXPECT_EQ(nitf::FormatNumberField(g.field(), 5, -10000), RET_INVALID_PARAMETER);
  EXPECT_EQ(nitf::FormatNumberField(g.field(), 12, 9999999999LL), RET_SUCCESS);
  EXPECT_STREQ(g.field(), "009999999999");
  EXPECT_TRUE(g.guards_intact(12));
}

TEST(FixedFields, DatesFromTwoCharacterParts) {
  Guarded g;
  EXPECT_EQ(nitf::FormatDateTime(g.field(), "20", "26", "12", "06", "19", "30", "45"), RET_SUCCESS);
  EXPECT_STREQ(g.field(), "20261206193045");
  EXPECT_EQ(nitf::FormatDate(g.field(), "19", "99", "01", "31"), RET_SUCCESS);
  EXPECT_STREQ(g.field(), "19990131");
  EXPECT_TRUE(g.guards_intact(14));
}

TEST(FixedFields, FileLength) {
  nitf::NitfFileHeaderData h;
  EXPECT_EQ(nitf::SetFileLength(&h, 1000), RET_SUCCESS);
  EXPECT_STREQ(h.fl, "000000001000");
  EXPECT_EQ(h.fl_source, 1000);
  EXPECT_EQ(h.fl_current, 1000);
  EXPECT_EQ(nitf::SetFileLength(&h, 1000000000000LL), RET_INVALID_PARAMETER);
  EXPECT_EQ(h.fl_source, 1000) << "a length FL cannot hold changes nothing";
}

}  // namespace
