// The nitf client, run as a person runs it.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

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
  std::string lish = "\"lish\":[" + std::to_string(nitfgen::demo_gradient().subheader.size()) +
                     "," + std::to_string(nitfgen::demo_rings().subheader.size()) + "," +
                     std::to_string(nitfgen::demo_checkerboard().subheader.size()) + "]";
  ToolRun text = run("info " + path.string());
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("FTITLE     Kvntfu demo\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("UDHD_TRES  1\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\nCANVAS     240 x 176\n"), std::string::npos) << text.out;

  ToolRun json = run("info --json " + path.string());
  ASSERT_EQ(json.exit_code, 0) << json.err;
  EXPECT_TRUE(valid_json(dir, json.out)) << json.out;
  for (const char* piece :
       {"\"fhdr\":\"NITF\"", "\"fver\":\"02.10\"", "\"clevel\":3", fl.c_str(), "\"hl\":505",
        "\"numi\":3", "\"ic\":\"C3\"", "\"canvas\":{\"width\":240,\"height\":176}",
        "\"background\":[32,64,96]", "\"udhd_tres\":1", "\"ftitle\":\"Kvntfu demo\"", lish.c_str(),
        "\"li\":[73728,9216,", "\"numt\":1", "\"texts\":[{\"index\":0,\"textid\":\"ABOUT\"",
        "\"desid\":\"KVNTFU_NOTE\"", "\"iid1\":\"GRADIENT\"", "\"ialvl\":1", "\"iloc\":[80,144]"})
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
  ToolRun blank = run("info --json " + sample("misc/test_blank.ntf").string());
  EXPECT_TRUE(valid_json(dir, blank.out)) << "a file without segments: " << blank.out;
  EXPECT_NE(blank.out.find("\"fl\":388"), std::string::npos);
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

TEST(Cli, FailuresAndUsage) {
  ToolRun missing = run("info /nonexistent.ntf");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "nitf: /nonexistent.ntf: no such file (-10)\n");
  EXPECT_EQ(missing.out, "");

  TempDir dir;
  nitfgen::FileSpec layout;
  layout.fields["FVER"] = "02.00";
  auto old = dir.write("old.ntf", nitfgen::build(layout));
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

// A PNG as libpng reads it back: size and 8-bit RGB pixels, top row first.
struct Png {
  bool read = false;
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  std::uint32_t at(std::uint32_t x, std::uint32_t y) const {
    const std::uint8_t* p = &rgb[(std::size_t{y} * width + x) * 3];
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
  }
};

Png read_png(const std::string& path) {
  Png out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str())) {
    image.format = PNG_FORMAT_RGB;
    out.width = image.width;
    out.height = image.height;
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    out.read = png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
  }
  return out;
}

TEST(Cli, RenderWritesThePictureAsPng) {
  TempDir dir;
  auto path = dir.write("demo.ntf", nitfgen::build(nitfgen::demo_file()));
  std::string out = dir.file("demo-out.png").string();
  ToolRun r = run("render " + path.string() + " -o " + out);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "nitf: wrote " + out + " (240 x 176)\n");
  Png png = read_png(out);
  ASSERT_TRUE(png.read) << "libpng reads " << out;
  EXPECT_EQ(png.width, 240u);
  EXPECT_EQ(png.height, 176u);
  EXPECT_EQ(png.at(0, 0), 0x0000A0u) << "the gradient's corner: red 0, green 0, blue 160";
  EXPECT_EQ(png.at(200, 10), 0x204060u) << "the file's background";
  EXPECT_EQ(png.at(192, 128), 0x1E1E1Eu) << "the rings' centre";
  // The JPEG checkerboard below the gradient: a dark square, then a light one.
  EXPECT_NEAR(static_cast<int>(png.at(4, 132) & 0xFF), 40, 4);
  EXPECT_NEAR(static_cast<int>(png.at(12, 132) & 0xFF), 220, 4);

  // Without -o the PNG goes into the current folder; 8 and 32 bits give the same picture.
  for (const char* bpp : {"8", "32"}) {
    ASSERT_EQ(run("render --bpp " + std::string(bpp) + " " + path.string() + " -o " +
                  dir.file("demo.png").string())
                  .exit_code,
              0);
    Png beside = read_png(dir.file("demo.png").string());
    ASSERT_TRUE(beside.read);
    EXPECT_EQ(beside.width, 240u);
    EXPECT_EQ(beside.at(192, 128), 0x1E1E1Eu) << bpp << " bits";
  }
}

// A binary PPM (P6) or PGM (P5) as RGB triplets, grey repeated into the three channels.
Png read_pnm(const std::string& path) {
  Png out;
  const std::string bytes = nitfgen::read_file(path);
  char magic[3] = {};
  unsigned width = 0, height = 0, top = 0;
  int header = 0;
  if (std::sscanf(bytes.c_str(), "%2s %u %u %u%n", magic, &width, &height, &top, &header) != 4 ||
      top != 255)
    return out;
  const bool grey = std::string(magic) == "P5";
  if (!grey && std::string(magic) != "P6") return out;
  const std::size_t pixels = std::size_t{width} * height, start = std::size_t(header) + 1;
  if (bytes.size() != start + pixels * (grey ? 1 : 3)) return out;
  out.width = width;
  out.height = height;
  for (std::size_t i = 0; i < pixels; ++i)
    for (int c = 0; c < 3; ++c)
      out.rgb.push_back(static_cast<std::uint8_t>(bytes[start + (grey ? i : 3 * i + c)]));
  out.read = true;
  return out;
}

// PPM and PGM carry the same pixels as the PNG of the same canvas; --discard composes
// every row and writes nothing.
TEST(Cli, RenderWritesPnmOrDiscards) {
  TempDir dir;
  auto path = dir.write("demo.ntf", nitfgen::build(nitfgen::demo_file()));
  const std::string png24 = dir.file("24.png").string(), png8 = dir.file("8.png").string();
  ASSERT_EQ(run("render " + path.string() + " -o " + png24).exit_code, 0);
  ASSERT_EQ(run("render " + path.string() + " --bpp 8 -o " + png8).exit_code, 0);
  const struct {
    std::string args, out, png;
  } cases[] = {{"", "demo.ppm", png24},
               {"--bpp 32", "demo32.ppm", png24},
               {"", "demo.pgm", png8},
               {"--bpp 8", "demo8.pgm", png8}};
  for (const auto& c : cases) {
    const std::string out = dir.file(c.out).string();
    ToolRun r = run("render " + path.string() + " " + c.args + " -o " + out);
    ASSERT_EQ(r.exit_code, 0) << c.out << ": " << r.err;
    EXPECT_EQ(nitfgen::read_file(out).substr(0, 2), c.out.ends_with(".pgm") ? "P5" : "P6");
    Png pnm = read_pnm(out), png = read_png(c.png);
    ASSERT_TRUE(pnm.read && png.read) << c.out;
    EXPECT_EQ(pnm.width, 240u);
    EXPECT_EQ(pnm.height, 176u);
    EXPECT_TRUE(pnm.rgb == png.rgb) << c.out << " holds the pixels of " << c.png;
  }
  ToolRun discarded = run("render " + path.string() + " --discard");
  ASSERT_EQ(discarded.exit_code, 0) << discarded.err;
  EXPECT_EQ(discarded.out,
            "nitf: composed " + path.string() + " (240 x 176), 176 rows discarded\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("demo.png"))) << "--discard writes nothing";
  EXPECT_EQ(run("render " + path.string() + " --discard -o x.ppm").exit_code, 2);
  EXPECT_EQ(run("render " + path.string() + " --bpp 24 -o x.pgm").exit_code, 2);
}

TEST(Cli, RenderFailures) {
  TempDir dir;
  ToolRun missing = run("render /nonexistent.ntf -o " + dir.file("x.png").string());
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "nitf: /nonexistent.ntf: no such file (-10)\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.png")));

  nitfgen::FileSpec layout;
  nitfgen::GraphicSpec symbol;
  symbol.fields["SFMT"] = "B";  // a bitmap symbol: no drawing is defined for it
  layout.graphics.push_back({nitfgen::graphic_subheader(symbol), ""});
  auto graphic = dir.write("graphic.ntf", nitfgen::build(layout));
  ToolRun refused = run("render " + graphic.string());
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("not supported: graphic segment 0"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("graphic.png"))) << "no partial picture";

  EXPECT_EQ(run("render").exit_code, 2);
  EXPECT_EQ(run("render x.ntf --bpp 16").exit_code, 2);
  EXPECT_EQ(run("render x.ntf --frobnicate").exit_code, 2);
}

// The bundled demo file is what the generator makes.
TEST(DemoFile, MatchesTheGenerator) {
  std::string bundled = nitfgen::read_file(std::string(KVNTF_SOURCE_DIR) + "/samples/demo.ntf");
  EXPECT_EQ(bundled, nitfgen::build(nitfgen::demo_file()))
      << "regenerate with: build/debug/bin/nitf-make-demo samples/demo.ntf";
}

}  // namespace

namespace {

// nitf set on every kind of segment, then a refused value that writes nothing.
TEST(Cli, SetChangesFieldsOfEveryKind) {
  REQUIRE_SAMPLES();
  TempDir dir;
  const std::string in = sample("jitc/i_3113g.ntf").string();
  const std::string out = dir.file("set.ntf").string();
  ToolRun set = run("set " + in + " " + out +
                    " ftitle='NEW TITLE' image[1].iloc=-12,40 graphic[1].sloc=5,12 "
                    "image[0].idlvl=7");
  ASSERT_EQ(set.exit_code, 0) << set.err;
  EXPECT_EQ(set.out, out + ": 4 fields set\n");
  ToolRun info = run("info " + out);
  EXPECT_NE(info.out.find("FTITLE     NEW TITLE\n"), std::string::npos);
  EXPECT_NE(info.out.find("ILOC       -12 40\n"), std::string::npos);
  EXPECT_NE(info.out.find("SLOC       5 12\n"), std::string::npos);

  const std::string with_text = sample("misc/WithBE.ntf").string();
  ToolRun text = run("set " + with_text + " " + out + " text[0].txtitl=RETITLED");
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(run("info " + out).out.find("RETITLED"), std::string::npos);

  const std::string refused_out = dir.file("refused.ntf").string();
  ToolRun refused = run("set " + in + " " + refused_out + " image[0].irep=COLOUR");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err, "nitf: " + in + ": image[0].irep: invalid parameter (-13)\n");
  EXPECT_FALSE(fs::exists(refused_out)) << "nothing is written";
  ToolRun too_long = run("set " + in + " " + refused_out + " ftitle=" + std::string(81, 'x'));
  EXPECT_EQ(too_long.exit_code, 1);
  EXPECT_EQ(too_long.err, "nitf: " + in + ": ftitle: longer than its field (-13)\n");
  EXPECT_EQ(run("set " + in + " " + refused_out + " graphic[9].sloc=1,1").exit_code, 1);
  EXPECT_EQ(run("set " + in + " " + refused_out + " nosuchfield=1").exit_code, 2);
  EXPECT_FALSE(fs::exists(refused_out));
  ToolRun help = run("set --help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("sbnd2"), std::string::npos);
}

}  // namespace
