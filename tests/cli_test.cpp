// The nitf client, run as a person runs it: info, text, render, copy and set. GDAL's
// comparisons (tests/gdal) check what info, text and copy say of every sample.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "demo.h"
#include "nitfgen_segments.h"
#include "testing.h"

namespace {

using namespace testing_support;

struct ToolRun {
  int exit_code = -1;
  std::string out, err;
};

ToolRun run(const std::string& args) {
  TempDir dir;
  const std::string err = dir.file("stderr").string();
  FILE* pipe = popen((std::string(KVNTF_NITF_TOOL) + " " + args + " 2>" + err).c_str(), "r");
  ToolRun r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) r.out.append(buf, n);
  const int status = pclose(pipe);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = nitfgen::read_file(err);
  return r;
}

TEST(Cli, Info) {
  TempDir dir;
  const std::string bytes = nitfgen::build(nitfgen::demo_file());
  const std::string path = dir.write("demo.ntf", bytes).string();
  ToolRun text = run("info " + path);
  ASSERT_EQ(text.exit_code, 0) << text.err;
  for (const char* line : {"FTITLE     Kvntfu demo\n", "UDHD_TRES  1\n", "\nCANVAS     240 x 176\n",
                           "\nimage 1\n  INDEX      1\n"})
    EXPECT_NE(text.out.find(line), std::string::npos) << line << text.out;
  ToolRun json = run("info --json " + path);
  ASSERT_EQ(json.exit_code, 0) << json.err;
  const std::string check = "python3 -c 'import json,sys; json.load(open(sys.argv[1]))' ";
  EXPECT_EQ(std::system((check + dir.write("info.json", json.out).string()).c_str()), 0)
      << json.out;
  const std::string fl = "\"fl\":" + std::to_string(bytes.size());
  for (const char* piece :
       {"\"fver\":\"02.10\"", "\"clevel\":3", fl.c_str(), "\"hl\":505", "\"ic\":\"C3\"",
        "\"canvas\":{\"width\":240,\"height\":176}", "\"background\":[32,64,96]", "\"udhd_tres\":1",
        "\"li\":[73728,9216,", "\"texts\":[{\"index\":0,\"textid\":\"ABOUT\"",
        "\"desid\":\"KVNTFU_NOTE\"", "\"iloc\":[80,144]"})
    EXPECT_NE(json.out.find(piece), std::string::npos) << piece << " in " << json.out;
}

TEST(Cli, Failures) {
  ToolRun missing = run("info /nonexistent.ntf");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "nitf: /nonexistent.ntf: no such file (-10)\n");
  EXPECT_EQ(missing.out, "");
  TempDir dir;
  nitfgen::FileSpec layout;
  layout.fields["FVER"] = "02.00";
  ToolRun refused = run("info --strict " + dir.write("old.ntf", nitfgen::build(layout)).string());
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("FVER before offset 9: only version 02.10"), std::string::npos)
      << "one line with the module's reason: " << refused.err;
  layout.fields.clear();
  layout.texts.push_back({nitfgen::text_subheader(), "first\r\n"});
  layout.texts.push_back({nitfgen::text_subheader(), "second"});
  const std::string texts = dir.write("texts.ntf", nitfgen::build(layout)).string();
  EXPECT_EQ(run("text " + texts).out, "first\r\nsecond") << "every text, as stored";
  ToolRun beyond = run("text " + texts + " 2");
  EXPECT_EQ(beyond.exit_code, 1);
  EXPECT_NE(beyond.err.find("no text segment 2"), std::string::npos) << beyond.err;
  for (const char* usage : {"", "info", "info --bogus x.ntf", "frobnicate", "text", "text x.ntf y",
                            "locate x.ntf 1", "locate x.ntf --ground 1 2", "locate x.ntf 1 y"})
    EXPECT_EQ(run(usage).exit_code, 2) << usage;
  EXPECT_EQ(run("help").exit_code, 0);
}

// A PNG or a binary PPM (P6) or PGM (P5) as RGB triplets, top row first.
struct Picture {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  std::uint32_t at(std::uint32_t x, std::uint32_t y) const {
    const std::uint8_t* p = &rgb[(std::size_t{y} * width + x) * 3];
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
  }
};

Picture read_png(const std::string& path) {
  Picture out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
  image.format = PNG_FORMAT_RGB;
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr))
    out.width = image.width, out.height = image.height;
  png_image_free(&image);
  return out;
}

Picture read_pnm(const std::string& path) {
  Picture out;
  const std::string bytes = nitfgen::read_file(path);
  unsigned width = 0, height = 0, top = 0;
  int header = 0;
  std::sscanf(bytes.c_str() + 2, "%u %u %u%n", &width, &height, &top, &header);
  const std::size_t start = std::size_t(header) + 3, pixels = std::size_t{width} * height;
  const int channels = bytes.rfind("P5", 0) == 0 ? 1 : 3;
  if (top != 255 || bytes.size() != start + pixels * channels) return out;
  for (std::size_t i = 0; i < pixels * 3; ++i)
    out.rgb.push_back(std::uint8_t(bytes[start + (channels == 1 ? i / 3 : i)]));
  out.width = width, out.height = height;
  return out;
}

// The demo file's picture as PNG, PPM and PGM of the same pixels; --discard composes
// every row and writes nothing.
TEST(Cli, Render) {
  TempDir dir;
  const std::string path = dir.write("demo.ntf", nitfgen::build(nitfgen::demo_file())).string();
  const std::string png = dir.file("24.png").string(), png8 = dir.file("8.png").string();
  ToolRun r = run("render " + path + " -o " + png);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "nitf: wrote " + png + " (240 x 176)\n");
  const Picture colour = read_png(png);
  ASSERT_EQ(colour.width * colour.height, 240u * 176);
  EXPECT_EQ(colour.at(0, 0), 0x0000A0u) << "the gradient's corner: red 0, green 0, blue 160";
  EXPECT_EQ(colour.at(200, 10), 0x204060u) << "the file's background";
  EXPECT_EQ(colour.at(192, 128), 0x1E1E1Eu) << "the rings' centre";
  EXPECT_NEAR(int(colour.at(4, 132) & 0xFF), 40, 4) << "a dark JPEG square, then a light one";
  EXPECT_NEAR(int(colour.at(12, 132) & 0xFF), 220, 4);
  ASSERT_EQ(run("render " + path + " --bpp 8 -o " + png8).exit_code, 0);
  const std::pair<std::string, std::string> same[] = {{"--bpp 32", "demo.png"},
                                                      {"", "demo.ppm"},
                                                      {"--bpp 32", "demo32.ppm"},
                                                      {"--bpp 8", "demo8.pgm"}};
  for (const auto& [args, name] : same) {
    const bool beside = name == "demo.png", grey = name.ends_with(".pgm");
    const std::string out = beside ? (fs::current_path() / name).string() : dir.file(name).string();
    // Without -o the picture goes into the current folder.
    ASSERT_EQ(run("render " + args + " " + path + (beside ? "" : " -o " + out)).exit_code, 0)
        << name;
    EXPECT_TRUE((beside ? read_png(out) : read_pnm(out)).rgb == read_png(grey ? png8 : png).rgb)
        << name;
  }
  fs::remove(dir.file("demo.png"));
  ToolRun discarded = run("render " + path + " --discard");
  EXPECT_EQ(discarded.out, "nitf: composed " + path + " (240 x 176), 176 rows discarded\n");
  EXPECT_FALSE(fs::exists(dir.file("demo.png"))) << "--discard writes nothing";

  ToolRun missing = run("render /nonexistent.ntf -o " + dir.file("x.png").string());
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_FALSE(fs::exists(dir.file("x.png")));
  nitfgen::FileSpec layout;
  nitfgen::GraphicSpec symbol;
  symbol.fields["SFMT"] = "B";  // a bitmap symbol: no drawing is defined for it
  layout.graphics.push_back({nitfgen::graphic_subheader(symbol), ""});
  ToolRun refused = run("render " + dir.write("graphic.ntf", nitfgen::build(layout)).string());
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("not supported: graphic segment 0"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(dir.file("graphic.png"))) << "no partial picture";
  for (const std::string usage :
       {"render", "render x.ntf --bpp 16", "render x.ntf --frobnicate",
        "render x.ntf --discard -o x.ppm", "render x.ntf --bpp 24 -o x.pgm"})
    EXPECT_EQ(run(usage).exit_code, 2) << usage;
}

// The bundled demo file is what the generator makes.
TEST(DemoFile, MatchesGenerator) {
  EXPECT_EQ(nitfgen::read_file(std::string(KVNTF_SOURCE_DIR) + "/samples/demo.ntf"),
            nitfgen::build(nitfgen::demo_file()))
      << "regenerate with: build/debug/bin/nitf-make-demo samples/demo.ntf";
}

TEST(Cli, Copy) {
  TempDir dir;
  nitfgen::FileSpec layout;
  layout.texts.push_back({nitfgen::text_subheader(), "text"});
  const std::string in = dir.write("in.ntf", nitfgen::build(layout)).string();
  const std::string out = dir.file("out.ntf").string();
  ToolRun copy = run("copy " + in + " " + out);
  EXPECT_EQ(nitfgen::read_file(out), nitfgen::read_file(in));
  EXPECT_EQ(copy.out, out +
                          ": 0 images, 0 graphics, 1 text, 0 data extensions, 0 reserved "
                          "extensions; " +
                          std::to_string(fs::file_size(in)) + " bytes\n");
  ToolRun failing = run("copy " + in + " /proc/kvntfu.ntf");
  EXPECT_EQ(failing.exit_code, 1);
  EXPECT_EQ(failing.err, "nitf: " + in +
                             ": cannot write the file: save: no new file can be made beside the "
                             "target (-5)\n");
}

// nitf set on every kind of segment, then values refused by the module or the client,
// fields that describe the stored data among them: nothing is written.
TEST(Cli, Set) {
  REQUIRE_SAMPLES();
  TempDir dir;
  const std::string in = sample("jitc/i_3113g.ntf").string(), out = dir.file("set.ntf").string();
  ToolRun set =
      run("set " + in + " " + out +
          " ftitle='NEW TITLE' image[1].iloc=-12,40 graphic[1].sloc=5,12 image[0].idlvl=7");
  ASSERT_EQ(set.exit_code, 0) << set.err;
  EXPECT_EQ(set.out, out + ": 4 fields set\n");
  const std::string info = run("info " + out).out;
  for (const char* line : {"FTITLE     NEW TITLE\n", "ILOC       -12 40\n", "SLOC       5 12\n"})
    EXPECT_NE(info.find(line), std::string::npos) << line;
  ToolRun text =
      run("set " + sample("misc/WithBE.ntf").string() + " " + out + " text[0].txtitl=RETITLED");
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(run("info " + out).out.find("RETITLED"), std::string::npos);

  const std::string refused = dir.file("refused.ntf").string();
  const std::pair<std::string, std::string> failures[] = {
      {"image[0].irep=COLOUR", "image[0].irep: invalid parameter (-13)\n"},
      {"ftitle=" + std::string(81, 'x'), "ftitle: longer than its field (-13)\n"},
      {"image[0].nrows=5", "image[0].nrows: describes the stored data"},
      {"image[0].ic=C3", "image[0].ic: describes the stored data"},
      {"graphic[0].sfmt=B", "graphic[0].sfmt: describes the stored data"},
      {"graphic[9].sloc=1,1", "graphic[9].sloc"}};
  for (const auto& [assignment, message] : failures) {
    ToolRun r = run("set " + in + " " + refused + " " + assignment);
    EXPECT_EQ(r.exit_code, 1) << assignment;
    EXPECT_EQ(r.err.rfind("nitf: " + in + ": " + message, 0), 0u) << r.err;
  }
  EXPECT_EQ(run("set " + in + " " + refused + " nosuchfield=1").exit_code, 2);
  EXPECT_FALSE(fs::exists(refused)) << "nothing is written";
}

// The help lists the settable fields, none that describes the stored data.
TEST(Cli, SetHelp) {
  ToolRun help = run("set --help");
  ASSERT_EQ(help.exit_code, 0);
  std::istringstream words(help.out);
  const std::set<std::string> listed{std::istream_iterator<std::string>(words), {}};
  EXPECT_TRUE(listed.count("sbnd2") && listed.count("txtitl") && listed.count("iid1"));
  for (int kind = KV_FIELDS_FILE; kind <= KV_FIELDS_TEXT; ++kind) {
    const NitfFieldInfo* fields = nullptr;
    int32_t count = 0;
    ASSERT_EQ(Kv_NITFGetFieldTable(kind, &fields, &count), RET_SUCCESS);
    for (int32_t i = 0; i < count; ++i) {
      std::string name = fields[i].name;
      for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_FALSE((fields[i].flags & KV_FIELD_LAYOUT) && listed.count(name)) << name;
    }
  }
}

}  // namespace
