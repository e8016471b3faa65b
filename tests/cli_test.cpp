// The nitf client, run as a person runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "demo.h"
#include "testing.h"

namespace {

using namespace testing_support;

struct ToolRun {
  int exit_code;
  std::string out;
  std::string err;
};

ToolRun run(const std::string& args) {
  TempDir dir;
  std::string err_path = dir.file("stderr").string();
  std::string command = std::string(KVNTF_NITF_TOOL) + " " + args + " 2>" + err_path;
  FILE* pipe = popen(command.c_str(), "r");
  ToolRun r{-1, "", ""};
  if (!pipe) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
  int status = pclose(pipe);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = nitfgen::read_file(err_path);
  return r;
}

// True when python3 accepts the text as one JSON document.
bool valid_json(const TempDir& dir, const std::string& text) {
  auto path = dir.write("out.json", text);
  std::string command = "python3 -c 'import json,sys; json.load(open(sys.argv[1]))' " +
                        path.string() + " 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

TEST(Cli, InfoOfTheDemoFile) {
  TempDir dir;
  std::string bytes = nitfgen::build(nitfgen::demo_file());
  auto path = dir.write("demo.ntf", bytes);
  std::string fl = "\"fl\":" + std::to_string(bytes.size());
  ToolRun text = run("info " + path.string());
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("FTITLE     Kvntfu demo\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("UDHD_TRES  1\n"), std::string::npos) << text.out;

  ToolRun json = run("info --json " + path.string());
  ASSERT_EQ(json.exit_code, 0) << json.err;
  EXPECT_TRUE(valid_json(dir, json.out)) << json.out;
  for (const char* piece :
       {"\"fhdr\":\"NITF\"", "\"fver\":\"02.10\"", "\"clevel\":3", fl.c_str(), "\"hl\":457",
        "\"numi\":0", "\"background\":[32,64,96]", "\"udhd_tres\":1", "\"ftitle\":\"Kvntfu demo\"",
        "\"lish\":[]", "\"numt\":1", "\"texts\":[{\"index\":0,\"textid\":\"ABOUT\"",
        "\"desid\":\"KVNTFU_NOTE\"", "\"images\":[]"})
    EXPECT_NE(json.out.find(piece), std::string::npos) << piece << " in " << json.out;
}

TEST(Cli, InfoOfEverySegmentKind) {
  REQUIRE_SAMPLES();
  TempDir dir;
  ToolRun json = run("info --json " + sample("jitc/i_3113g.ntf").string());
  ASSERT_EQ(json.exit_code, 0) << json.err;
  EXPECT_TRUE(valid_json(dir, json.out));
  // Values as gdalinfo reports them for this file.
  for (const char* piece : {"\"numi\":2", "\"nums\":2", "\"ic\":\"I1\"", "\"idlvl\":2",
                            "\"iloc\":[619,296]", "\"ncols\":204", "\"sdlvl\":3", "\"sfmt\":\"C\""})
    EXPECT_NE(json.out.find(piece), std::string::npos) << piece << " in " << json.out;
  ToolRun text = run("info " + sample("jitc/i_3113g.ntf").string());
  EXPECT_NE(text.out.find("\nimage 1\n  INDEX      1\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\ngraphic 1\n"), std::string::npos);
}

TEST(Cli, TextSegmentsAsStored) {
  REQUIRE_SAMPLES();
  auto path = sample("misc/WithBE.ntf");
  Parsed p = read_header_only(path);
  ASSERT_EQ(p.result, RET_SUCCESS);
  std::string file = nitfgen::read_file(path.string());
  std::int64_t at = nitf::segment_data_offset(*p.document, nitf::SegmentKind::kText, 0);
  std::string stored = file.substr(static_cast<std::size_t>(at), p.document->header.texts.data(0));

  ToolRun one = run("text " + path.string() + " 0");
  ASSERT_EQ(one.exit_code, 0) << one.err;
  EXPECT_EQ(one.out, stored) << "bytes as stored, line ends included";
  EXPECT_EQ(run("text " + path.string()).out, stored) << "all texts: here the one";

  ToolRun beyond = run("text " + path.string() + " 1");
  EXPECT_EQ(beyond.exit_code, 1);
  EXPECT_NE(beyond.err.find("no text segment 1"), std::string::npos) << beyond.err;
  EXPECT_EQ(run("text " + path.string() + " x").exit_code, 2);
  EXPECT_EQ(run("text").exit_code, 2);
}

TEST(Cli, InfoOfARealFile) {
  REQUIRE_SAMPLES();
  TempDir dir;
  ToolRun json = run("info --json " + sample("misc/test_blank.ntf").string());
  ASSERT_EQ(json.exit_code, 0) << json.err;
  EXPECT_TRUE(valid_json(dir, json.out));
  EXPECT_NE(json.out.find("\"fl\":388"), std::string::npos);
}

TEST(Cli, FailuresAndUsage) {
  ToolRun missing = run("info /nonexistent.ntf");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "nitf: /nonexistent.ntf: no such file (-10)\n");
  EXPECT_EQ(missing.out, "");

  TempDir dir;
  nitfgen::FileSpec spec;
  spec.fields["FVER"] = "02.00";
  auto old = dir.write("old.ntf", nitfgen::build(spec));
  ToolRun refused = run("info " + old.string());
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("unsupported NITF version"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("(-78)"), std::string::npos);

  EXPECT_EQ(run("").exit_code, 2);
  EXPECT_EQ(run("info").exit_code, 2);
  EXPECT_EQ(run("info --bogus x.ntf").exit_code, 2);
  EXPECT_EQ(run("frobnicate").exit_code, 2);
  EXPECT_EQ(run("help").exit_code, 0);
}

// The bundled demo file is what the generator makes.
TEST(DemoFile, MatchesTheGenerator) {
  std::string bundled = nitfgen::read_file(std::string(KVNTF_SOURCE_DIR) + "/samples/demo.ntf");
  EXPECT_EQ(bundled, nitfgen::build(nitfgen::demo_file()))
      << "regenerate with: build/debug/bin/nitf-make-demo samples/demo.ntf";
}

}  // namespace
