// Replays tests/corpus: hostile inputs, each run through the calls the fuzz harnesses of
// fuzz/ make, here without libFuzzer and under the test build's sanitizers. The NITF
// files were generated and the CGM files made by hand, each to take a reader down a path
// a hostile file takes (an attachment ring, a claimed grid the data cannot hold, a
// length past the end); the TRE inputs (a tag, then the data) are what fuzz_tre found.
// tests/corpus/expected lists each file with the codes it must give and where it came
// from. Also the limits a hostile file's claims run into (huge images and maximal
// segment tables give a code at once), and the codes of every real file.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "entries.h"
#include "kernel/memory_counting.h"
#include "nitfgen.h"
#include "nitfgen_image.h"
#include "nitfgen_segments.h"
#include "testing.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace testing_support;

const fs::path kCorpus = fs::path(KVNTF_SOURCE_DIR) / "tests" / "corpus";

// The lines of tests/corpus/expected: a NITF file's codes for open (the document walk),
// fltInfo, fltLoad and render; a CGM file's word cgm and the CGM reader's code; a TRE
// input's word tre and the TRE harness's code; an edit script's (fuzz_append) word
// edit and the edit round trip's code.
std::map<std::string, std::vector<std::string>> read_expected() {
  std::map<std::string, std::vector<std::string>> out;
  std::istringstream in(nitfgen::read_file((kCorpus / "expected").string()));
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string name;
    if (line.empty() || line[0] == '#' || !(words >> name)) continue;
    out[name].assign(std::istream_iterator<std::string>(words), {});
  }
  return out;
}

std::vector<std::string> corpus_files() {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(kCorpus))
    if (e.is_regular_file() && e.path().filename() != "expected")
      out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Each replayed call must come back well within the harnesses' timeout.
constexpr auto kTimeBound = std::chrono::seconds(5);

// Under the harnesses' allocation cap, so that each file takes the paths it would take
// under a harness.
class CorpusReplay : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { kernel::set_allocation_cap(fuzzing::kHarnessAllocationCap); }
  void TearDown() override { kernel::set_allocation_cap(0); }
};

TEST_P(CorpusReplay, Codes) {
  const std::string name = GetParam();
  const auto expected = read_expected();
  auto it = expected.find(name);
  ASSERT_NE(it, expected.end()) << name << " has no line in tests/corpus/expected";
  const std::vector<std::string>& want = it->second;
  const fs::path path = kCorpus / name;
  const std::string bytes = nitfgen::read_file(path.string());
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::wstring file = wide(path);
  // The variants the load and render harnesses would choose for this file: by its length.
  using Call = std::pair<const char*, std::function<int()>>;
  // A TRE that decodes must encode back to its bytes, or decode_tre traps.
  const bool cgm = want.at(0) == "cgm" || want.at(0) == "tre" || want.at(0) == "edit";
  const std::vector<Call> calls =
      want.at(0) == "cgm"
          ? std::vector<Call>{{"cgm", [&] { return fuzzing::read_cgm(data, bytes.size()); }}}
      : want.at(0) == "tre"
          ? std::vector<Call>{{"tre", [&] { return fuzzing::decode_tre(data, bytes.size()); }}}
      : want.at(0) == "edit"
          ? std::vector<Call>{{"edit",
                               [&] { return fuzzing::edit_round_trip(data, bytes.size()); }}}
          : std::vector<Call>{
                {"open", [&] { return fuzzing::walk_document(file); }},
                {"fltInfo", [&] { return fuzzing::describe(file); }},
                {"fltLoad", [&] { return fuzzing::load_rows(file, std::uint32_t(bytes.size())); }},
                {"render", [&] { return fuzzing::render(file, bytes.size() % 2 == 1); }},
                {"round trip",
                 [&] { return fuzzing::round_trip(file, nullptr, 0, bytes.size() % 2 == 1); }}};
  for (std::size_t k = 0; k < calls.size(); ++k) {
    const auto start = Clock::now();
    EXPECT_EQ(std::to_string(calls[k].second()), want.at(k + cgm))
        << name << ": " << calls[k].first;
    EXPECT_LT(Clock::now() - start, kTimeBound) << name << ": " << calls[k].first;
  }
  // The sample reads judge only time and the sanitizers: their request comes from the bytes.
  const auto start = Clock::now();
  if (!cgm && bytes.size() >= 24)
    fuzzing::read_samples(file, data + bytes.size() - 24, 24, bytes.size() % 2 == 1);
  EXPECT_LT(Clock::now() - start, kTimeBound) << name << ": samples";
}

INSTANTIATE_TEST_SUITE_P(Files, CorpusReplay, ::testing::ValuesIn(corpus_files()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

// ----- Limits -------------------------------------------------------------------------

// The codes of every entry on `bytes` (open, fltInfo, fltLoad, render), each given
// within a second.
std::vector<int> run_all(const std::string& bytes) {
  TempDir dir;
  const std::wstring file = wide(dir.write("limit.ntf", bytes));
  std::vector<int> codes;
  for (int (*entry)(const std::wstring&) :
       {+[](const std::wstring& f) { return fuzzing::walk_document(f); },
        +[](const std::wstring& f) { return fuzzing::describe(f); },
        +[](const std::wstring& f) { return fuzzing::load_rows(f, 0); },
        +[](const std::wstring& f) { return fuzzing::render(f); }}) {
    const auto start = Clock::now();
    codes.push_back(entry(file));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << codes.size();
  }
  return codes;
}

std::string one_image(long long rows, long long columns, int blocks, int block_side) {
  nitfgen::ImageShape image;
  image.nrows = rows;
  image.ncols = columns;
  image.nbpr = image.nbpc = blocks;
  image.nppbh = image.nppbv = block_side;  // 0: the whole side when there is one block
  nitfgen::FileSpec layout;
  layout.images.push_back(nitfgen::image_segment(image, std::string(64, '\x7f')));
  return nitfgen::build(layout);
}

// Images of 99999 x 99999 grey pixels (about 10 GB, beyond the 4 GiB cap) in blocks or
// in one; 40000 x 30000 under the cap, which 64 bytes of data cannot hold, found before
// the canvas is filled.
TEST(Limits, HugeImages) {
  const std::vector<int> cap = {RET_SUCCESS, RET_NO_MEMORY, RET_NO_MEMORY, RET_NO_MEMORY};
  EXPECT_EQ(run_all(one_image(99999, 99999, 98, 1024)), cap);
  EXPECT_EQ(run_all(one_image(99999, 99999, 1, 0)), cap);
  EXPECT_EQ(run_all(one_image(30000, 40000, 1, 0)),
            std::vector<int>({RET_SUCCESS, RET_SUCCESS, RET_FILE_FORMAT, RET_FILE_FORMAT}));
}

TEST(Limits, MaximalSegments) {
  // 999 images of LISH 999998 and LI 9999999998, then 999 texts of LT 99998: lengths no
  // file holds, refused before anything is allocated for them. (All nines would mark
  // a streaming file, a different path.)
  constexpr std::size_t kNumi = 360;  // FHDR .. FL, HL
  nitfgen::FileSpec layout;
  for (int i = 0; i < 999; ++i)
    layout.images.push_back(nitfgen::image_segment({}, std::string(64, '\0')));
  std::string file = nitfgen::build(layout);
  for (std::size_t i = 0; i < 999; ++i) file.replace(kNumi + 3 + 16 * i, 16, "9999989999999998");
  EXPECT_EQ(run_all(file), std::vector<int>(4, RET_FILE_READ));

  nitfgen::FileSpec texts;
  for (int i = 0; i < 999; ++i) texts.texts.push_back({nitfgen::text_subheader(), "x"});
  file = nitfgen::build(texts);
  // NUMI 000, NUMS 000, NUMX 000, NUMT 999, then LTSH (4) and LT (5) each.
  const std::size_t numt = kNumi + 3 + 3 + 3;
  ASSERT_EQ(file.substr(numt, 3), "999");
  for (std::size_t i = 0; i < 999; ++i) file.replace(numt + 3 + 9 * i + 4, 5, "99998");
  // The second subheader is looked for 99998 bytes after the first, inside other texts.
  const std::vector<int> codes = run_all(file);
  EXPECT_EQ(codes[0], RET_FILE_FORMAT);
  EXPECT_EQ(codes[3], RET_FILE_FORMAT);
}

// Every real file and every corpus file, opened, composed and read by region under the
// harnesses' 64 MiB cap, gives a code or a picture, never an out-of-memory kill (with
// extended reading, which takes the most); the most the module holds at once for one
// file, counted by its allocator, is stated and stays within a few capped blocks.
TEST(Limits, RealFilesUnderCap) {
  REQUIRE_SAMPLES();
  MessageCapture quiet;
  AllocationCap cap(fuzzing::kHarnessAllocationCap);
  std::vector<fs::path> files = real_files();
  for (const std::string& name : corpus_files())
    if (name.ends_with(".ntf")) files.push_back(kCorpus / name);
  const std::uint8_t window[24] = {0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0,   0,
                                   0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 100, 100};
  std::pair<std::size_t, std::string> most;
  for (const fs::path& f : files) {
    kernel::start_counting();
    fuzzing::render(wide(f), true);
    fuzzing::read_samples(wide(f), window, sizeof window, true);
    most = std::max(most, {kernel::counted_peak(), f.filename().string()});
  }
  kernel::stop_counting();
  std::printf("held at most %.1f MiB at once (%s)\n", most.first / 1048576.0, most.second.c_str());
  EXPECT_LT(most.first, 4 * fuzzing::kHarnessAllocationCap);
}

// ----- Every real file -----------------------------------------------------------------

// Every real file of both sample folders opens and composes with extended reading, but
// for the ones broken on purpose; read without it, each gives the code it always gave.
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
