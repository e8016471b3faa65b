// Every real file of both sample folders opens and composes with extended reading, but
// for the ones broken on purpose; read without it, each gives the code it always gave.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "testing.h"

namespace {

using namespace testing_support;

// Extended reading's codes for the broken files: open, then compose.
const std::map<std::string, std::pair<int, int>> kBroken = {
    {"U_0002A.NTF", {RET_UNSUPPORTED_VERSION, 0}},                   // NITF 1.1
    {"bug2_crash.ntf", {RET_FILE_FORMAT, 0}},                        // a label where none is
    {"bug6_hangs.ntf", {RET_UNSUPPORTED_CLEVEL, 0}},                 // CLEVEL "0D"
    {"testtest.on9", {RET_FILE_READ, 0}},                            // lengths beyond the file
    {"RPFTOC01.ON2", {RET_SUCCESS, RET_FILE_READ}},                  // its image data cut short
    {"nitf21-multisegment-2img-1txt-1des.ntf", {RET_FILE_READ, 0}},  // a text subheader cut
};

// The strict reader's codes where it refused before extended reading existed: the
// version for NITF 2.0 and 1.1, the level for 05 and 06, the pixel type and depth of
// the new pixels. NSIF 1.0 files now open for every caller (or give their next refusal).
int strict_code(const fs::path& p) {
  const std::string name = p.filename().string(), folder = p.parent_path().filename().string();
  if (nitfgen::read_file(p.string()).starts_with("NSIF")) return 1;  // any but the version's
  if (folder == "nitf20" || name == "U_0006A.NTF") return RET_UNSUPPORTED_VERSION;
  if (name.starts_with("rgb16") || name.starts_with("066_")) return RET_UNSUPPORTED_BPP;
  if (name.starts_with("i_5012c") || name.starts_with("i_6130a")) return RET_UNSUPPORTED_CLEVEL;
  if (name == "sicd_50x50.nitf") return RET_FILE_FORMAT;  // ISCLAS blank
  for (const char* deep : {"sicd", "i_3450c", "iq.nitf", "test.ntf", "use00a"})
    if (name.find(deep) != std::string::npos) return RET_UNSUPPORTED_PVTYPE;
  return RET_SUCCESS;
}

int open_code(const fs::path& p, uint32_t options, int* composed) {
  PublicDoc doc(p, options);
  Rendered r;
  *composed = doc.result == RET_SUCCESS ? Kv_NtfRenderBitmap(&r.bitmap, doc.d) : 0;
  return doc.result;
}

TEST(Reach, EveryRealFile) {
  REQUIRE_SAMPLES();
  MessageCapture quiet;
  const std::vector<fs::path> files = real_files();
  ASSERT_GT(files.size(), 80u);
  for (const fs::path& f : files) {
    SCOPED_TRACE(f.string());
    int composed = 0;
    const auto broken = kBroken.find(f.filename().string());
    const auto expected =
        broken == kBroken.end() ? std::pair{RET_SUCCESS, int(RET_SUCCESS)} : broken->second;
    EXPECT_EQ(open_code(f, KV_NITF_EXTENDED, &composed), expected.first);
    EXPECT_EQ(composed, expected.second);
    const int strict = open_code(f, 0, &composed), expected_strict = strict_code(f);
    if (broken != kBroken.end()) continue;
    if (expected_strict == 1) {
      EXPECT_NE(strict, RET_UNSUPPORTED_VERSION);
    } else {
      EXPECT_EQ(strict, expected_strict);
    }
  }
}

}  // namespace
