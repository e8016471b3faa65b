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

TEST(Cli, InfoOfAHeaderOnlyFile) {
  TempDir dir;
  auto path = dir.write("demo.ntf", nitfgen::build(nitfgen::demo_file()));
  ToolRun text = run("info " + path.string());
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("FTITLE     Kvntfu demo\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("UDHD_TRES  1\n"), std::string::npos) << text.out;

  ToolRun json = run("info --json " + path.string());
  ASSERT_EQ(json.exit_code, 0) << json.err;
  EXPECT_TRUE(valid_json(dir, json.out)) << json.out;
  for (const char* piece : {"\"fhdr\":\"NITF\"", "\"fver\":\"02.10\"", "\"clevel\":3", "\"fl\":435",
                            "\"hl\":435", "\"numi\":0", "\"background\":[32,64,96]",
                            "\"udhd_tres\":1", "\"ftitle\":\"Kvntfu demo\"", "\"lish\":[]"})
    EXPECT_NE(json.out.find(piece), std::string::npos) << piece << " in " << json.out;
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
