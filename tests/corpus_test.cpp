// Replays tests/corpus: hostile inputs, each run through the calls the fuzz harnesses of
// fuzz/ make, here without libFuzzer and under the test build's sanitizers. The NITF
// files were generated and the CGM files made by hand, each to take a reader down a
// path a hostile file takes (an attachment ring, a claimed grid the data cannot hold, a
// length past the end); the TRE inputs (a tag, then the data) are what fuzz_tre found.
// tests/corpus/expected lists each file with the codes it must give and where it came from. Also
// the limits a hostile file's claims run into: huge images and maximal segment tables give a code
// at once.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "entries.h"
#include "nitfgen.h"
#include "nitfgen_image.h"
#include "nitfgen_segments.h"
#include "testing.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing_support::TempDir;
using testing_support::wide;

const fs::path kCorpus = fs::path(KVNTF_SOURCE_DIR) / "tests" / "corpus";

// One line of tests/corpus/expected: a NITF file's codes for open (the document walk),
// fltInfo, fltLoad and render; a CGM file's code from the CGM reader.
struct Expected {
  bool cgm = false, tre = false;
  int open = 0, info = 0, load = 0, render = 0;
};

std::map<std::string, Expected> read_expected() {
  std::map<std::string, Expected> out;
  std::ifstream in(kCorpus / "expected");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, kind;
    Expected e;
    fields >> name >> kind;
    if (kind == "cgm" || kind == "tre") {
      (kind == "cgm" ? e.cgm : e.tre) = true;
      fields >> e.open;
    } else {
      e.open = std::stoi(kind);
      fields >> e.info >> e.load >> e.render;
    }
    out[name] = e;
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
  const Expected& e = it->second;
  const fs::path path = kCorpus / name;
  const std::string bytes = nitfgen::read_file(path.string());
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());

  auto timed = [&](const char* what, auto call) {
    const auto start = Clock::now();
    const int r = call();
    EXPECT_LT(Clock::now() - start, kTimeBound) << name << ": " << what;
    return r;
  };
  if (e.cgm) {
    EXPECT_EQ(timed("cgm", [&] { return fuzzing::read_cgm(data, bytes.size()); }), e.open);
    return;
  }
  if (e.tre) {  // a TRE that decodes must encode back to its bytes, or this traps
    EXPECT_EQ(timed("tre", [&] { return fuzzing::decode_tre(data, bytes.size()); }), e.open);
    return;
  }
  const std::wstring file = wide(path);
  EXPECT_EQ(timed("open", [&] { return fuzzing::walk_document(file); }), e.open);
  EXPECT_EQ(timed("fltInfo", [&] { return fuzzing::describe(file); }), e.info);
  // The variants the load and render harnesses would choose for this file: by its length.
  EXPECT_EQ(
      timed("fltLoad",
            [&] { return fuzzing::load_rows(file, static_cast<std::uint32_t>(bytes.size())); }),
      e.load);
  EXPECT_EQ(timed("render", [&] { return fuzzing::render(file, bytes.size() % 2 == 1); }),
            e.render);
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
  nitfgen::ImageSpec image;
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

// The file header's length tables start after HL; each kind's count, then its entries.
std::string patch(std::string bytes, std::size_t at, const std::string& text) {
  bytes.replace(at, text.size(), text);
  return bytes;
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
  for (std::size_t i = 0; i < 999; ++i) file = patch(file, kNumi + 3 + 16 * i, "9999989999999998");
  EXPECT_EQ(run_all(file), std::vector<int>(4, RET_FILE_READ));

  nitfgen::FileSpec texts;
  for (int i = 0; i < 999; ++i) texts.texts.push_back({nitfgen::text_subheader(), "x"});
  file = nitfgen::build(texts);
  // NUMI 000, NUMS 000, NUMX 000, NUMT 999, then LTSH (4) and LT (5) each.
  const std::size_t numt = kNumi + 3 + 3 + 3;
  ASSERT_EQ(file.substr(numt, 3), "999");
  for (std::size_t i = 0; i < 999; ++i) file = patch(file, numt + 3 + 9 * i + 4, "99998");
  // The second subheader is looked for 99998 bytes after the first, inside other texts.
  const std::vector<int> codes = run_all(file);
  EXPECT_EQ(codes[0], RET_FILE_FORMAT);
  EXPECT_EQ(codes[3], RET_FILE_FORMAT);
}

}  // namespace
