// Files written with unknown lengths: the streaming file header lookup and the
// bounded re-read of the header from its replacement data.
#include <gtest/gtest.h>

#include "core/strmfhdr.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitfgen::FileSpec;

const std::string kDelim1("\x0A\x6E\x1D\x97", 4);
const std::string kDelim2("\x0E\xCA\x14\xBF", 4);

// `lead` bytes of filler, then a streaming frame around `data`.
std::string framed(std::size_t lead, const std::string& data, long long l1, long long l2) {
  return std::string(lead, 'x') + nitfgen::number(l1, 7) + kDelim1 + data + kDelim2 +
         nitfgen::number(l2, 7);
}

struct Lookup {
  int result;
  std::int64_t bytes_to_end = -1;
  nitf::StreamingFileHeader record;
};

Lookup lookup(const TempDir& dir, const std::string& bytes) {
  auto path = dir.write("s.bin", bytes);
  int fd = kernel::open_file(wide(path).c_str(), kernel::kModeRead, kernel::kPermRead);
  Lookup out;
  out.result = nitf::locate_streaming_file_header(fd, &out.record, &out.bytes_to_end);
  kernel::close_file(fd);
  return out;
}

TEST(StreamingHeader, AllNinesHeaderIsReadAgainFromTheEnd) {
  TempDir dir;
  FileSpec layout;
  layout.fields["FTITLE"] = "streamed";
  layout.images.push_back({std::string(500, 'I'), std::string(1000, 'd')});
  layout.texts.push_back({std::string(285, 'T'), "some text"});
  layout.streaming = true;
  std::string bytes = nitfgen::build(layout);
  ASSERT_NE(bytes.find("999999999999"), std::string::npos);

  Parsed p = read_header_only(dir.write("stream.ntf", bytes));
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto& h = p.document->header;
  EXPECT_EQ(h.fl_source, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(h.fl_current, h.fl_source);
  ASSERT_EQ(h.images.count, 1);
  EXPECT_EQ(h.images.subheader(0), 500u);
  EXPECT_EQ(h.images.data(0), 1000u);
  EXPECT_EQ(h.images.subheader_current[0], 500u);
  EXPECT_EQ(h.texts.subheader(0), 285u);
  ASSERT_EQ(h.des.count, 1);
  EXPECT_EQ(p.document->streaming.located, 1);
  // The re-read took the whole header from the replacement data.
  EXPECT_EQ(p.document->streaming.replacement_consumed, h.hl_source);
  // The segments are where the real lengths put them.
  EXPECT_EQ(bytes.substr(nitf::segment_offset(*p.document, nitf::SegmentKind::kText, 0), 3), "TTT");
  EXPECT_EQ(bytes.substr(nitf::segment_data_offset(*p.document, nitf::SegmentKind::kText, 0), 9),
            "some text");
}

TEST(StreamingHeader, ShortReplacementReplacesOnlyTheFieldsThatFit) {
  TempDir dir;
  FileSpec layout;
  layout.fields["FTITLE"] = "first";
  layout.streaming = true;
  std::string bytes = nitfgen::build(layout);
  // Replacement data of 150 bytes: FHDR to FTITLE (119 bytes) and a few more fields.
  FileSpec other = layout;
  other.fields["FTITLE"] = "second";
  other.streaming = false;
  std::string replacement = nitfgen::file_header(other).substr(0, 150);
  std::size_t frame = bytes.rfind(std::string("\x0A\x6E\x1D\x97", 4)) - 7;
  bytes = bytes.substr(0, frame) + nitfgen::number(150, 7) + kDelim1 + replacement + kDelim2 +
          nitfgen::number(150, 7);

  Parsed p = read_header_only(dir.write("short.ntf", bytes));
  ASSERT_EQ(p.result, RET_SUCCESS);
  EXPECT_EQ(std::string(p.document->header.ftitle), nitfgen::text("second", 80));
  EXPECT_STREQ(p.document->header.fl, "999999999999");  // beyond the replacement: kept
}

TEST(StreamingHeader, ReplacementWithNinesDoesNotReadAgain) {
  TempDir dir;
  FileSpec layout;
  layout.streaming = true;
  std::string bytes = nitfgen::build(layout);
  // Replace the real header inside the frame by the all-nines one itself.
  std::size_t hl = std::stoul(bytes.substr(354, 6));
  std::string head = bytes.substr(0, hl);
  std::size_t data = bytes.rfind(kDelim1) + 4;
  bytes.replace(data, hl, head);
  Parsed p = read_header_only(dir.write("loop.ntf", bytes));
  EXPECT_EQ(p.result, RET_SUCCESS);
  EXPECT_STREQ(p.document->header.fl, "999999999999");
}

TEST(StreamingHeader, DelimiterAcrossWindowEdgesIsFound) {
  TempDir dir;
  // Windows of 255 bytes overlapping by 3 from the end; move the delimiter across the
  // edges of the first two windows.
  for (long long l1 = 220; l1 <= 520; ++l1) {
    std::string bytes = framed(300, std::string(static_cast<std::size_t>(l1), 'r'), l1, l1);
    Lookup found = lookup(dir, bytes);
    ASSERT_EQ(found.result, RET_SUCCESS) << l1;
    EXPECT_EQ(found.bytes_to_end, l1 + 4 + 7) << l1;
    EXPECT_EQ(found.record.sfh_l1, l1);
  }
  // Zero bytes before the delimiter do not hide it.
  std::string zeros = std::string(40, '\0') + framed(0, std::string(10, '\0'), 10, 10);
  EXPECT_EQ(lookup(dir, zeros).result, RET_SUCCESS);
}

TEST(StreamingHeader, LookupFailures) {
  TempDir dir;
  EXPECT_EQ(lookup(dir, "").result, RET_INVALID_PARAMETER);
  EXPECT_EQ(lookup(dir, "abc").result, RET_INVALID_PARAMETER);
  EXPECT_EQ(lookup(dir, std::string(5000, 'n')).result, RET_INVALID_PARAMETER);
  EXPECT_EQ(lookup(dir, framed(50, "0123456789", 10, 11)).result, RET_FILE_FORMAT);
  std::string bad_delim2 = framed(50, "0123456789", 10, 10);
  bad_delim2[bad_delim2.size() - 8] = 'X';
  EXPECT_EQ(lookup(dir, bad_delim2).result, RET_FILE_FORMAT);
  // SFH_L1 claims more than lies between the delimiter and the end.
  EXPECT_EQ(lookup(dir, framed(50, "0123456789", 9999, 10)).result, RET_FILE_READ);
  // A delimiter with no room for SFH_L1 before it.
  EXPECT_EQ(lookup(dir, kDelim1 + std::string(20, 'z')).result, RET_FILE_FORMAT);
}

TEST(StreamingHeader, MissingFrameFailsTheHeaderRead) {
  TempDir dir;
  FileSpec layout;
  layout.streaming = true;
  std::string bytes = nitfgen::build(layout);
  bytes.resize(bytes.rfind(kDelim1) - 7);  // cut the frame off
  EXPECT_EQ(read_header_only(dir.write("nof.ntf", bytes)).result, RET_INVALID_PARAMETER);
}

}  // namespace
