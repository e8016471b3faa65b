// The nitf client, run as a person runs it: info, text, render, copy, set and create, one
// line per refusal. GDAL checks what the module reads of every sample (fields_test) and
// what create and append make (tests/gdal).
#include <gtest/gtest.h>

#include <png.h>

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
  int code;
  std::string out, err;
};

// The client with `args`, run in `folder`.
ToolRun run(const std::string& args, const fs::path& folder = fs::temp_directory_path()) {
  TempDir scratch;
  const std::string err = scratch.file("err").string();
  const std::string command =
      "cd '" + folder.string() + "' && " + KVNTF_NITF_TOOL + " " + args + " 2>'" + err + "'";
  ToolRun r{-1, command_output(command + "; echo \"#$?\""), ""};
  const auto mark = r.out.rfind('#');
  r.code = std::atoi(r.out.c_str() + mark + 1);
  r.out.resize(mark);
  r.err = nitfgen::read_file(err);
  return r;
}

// info, text and copy.
TEST(Cli, Info) {
  REQUIRE_SAMPLES();
  TempDir dir;
  const std::string bytes = nitfgen::build(nitfgen::demo_file());
  const std::string path = dir.write("demo.ntf", bytes).string();
  ToolRun text = run("info " + path);
  ASSERT_EQ(text.code, 0) << text.err;
  for (const char* line : {"FTITLE     Kvntfu demo\n", "UDHD_TRES  1\n", "\nCANVAS     240 x 176\n",
                           "\nimage 1\n  INDEX      1\n"})
    EXPECT_NE(text.out.find(line), std::string::npos) << line << text.out;
  ToolRun json = run("info --json " + path);
  ASSERT_EQ(json.code, 0) << json.err;
  const std::string check = "python3 -c 'import json,sys; json.load(open(sys.argv[1]))' ";
  EXPECT_EQ(std::system((check + dir.write("info.json", json.out).string()).c_str()), 0);
  EXPECT_NE(
      run("info --json " + sample("misc/U_0006A.NTF").string()).out.find("\"fver\":\"02.00\""),
      std::string::npos)
      << "NITF 2.0 by its own fields";
  const std::string fl = "\"fl\":" + std::to_string(bytes.size());
  for (const char* piece :
       {"\"fver\":\"02.10\"", "\"clevel\":3", fl.c_str(), "\"hl\":505", "\"ic\":\"C3\"",
        "\"canvas\":{\"width\":240,\"height\":176}", "\"background\":[32,64,96]",
        "\"li\":[73728,9216,", "\"texts\":[{\"index\":0,\"te\":\"TE\",\"textid\":\"ABOUT\"",
        "\"desid\":\"KVNTFU_NOTE\"", "\"iloc\":[80,144]"})
    EXPECT_NE(json.out.find(piece), std::string::npos) << piece << " in " << json.out;
  nitfgen::FileSpec layout;
  layout.texts.push_back({nitfgen::text_subheader(), "first\r\n"});
  layout.texts.push_back({nitfgen::text_subheader(), "second"});
  const std::string in = dir.write("texts.ntf", nitfgen::build(layout)).string();
  EXPECT_EQ(run("text " + in).out, "first\r\nsecond") << "every text, as stored";
  const std::string out = dir.file("out.ntf").string();
  EXPECT_EQ(run("copy " + in + " " + out).out,
            out + ": 0 images, 0 graphics, 2 texts, 0 data extensions, 0 reserved extensions; " +
                std::to_string(fs::file_size(in)) + " bytes\n");
  EXPECT_EQ(nitfgen::read_file(out), nitfgen::read_file(in));
}

// Each refusal is one line with the module's reason and exit code 1; a wrong command
// line exits 2.
TEST(Cli, Refusals) {
  REQUIRE_SAMPLES();
  TempDir dir;
  nitfgen::FileSpec layout;
  layout.fields["FVER"] = "02.00";
  const std::string old = dir.write("old.ntf", nitfgen::build(layout)).string();
  layout.fields.clear();
  layout.texts.push_back({nitfgen::text_subheader(), "text"});
  const std::string text = dir.write("text.ntf", nitfgen::build(layout)).string();
  const std::pair<std::string, std::string> refusals[] = {
      {"info /nonexistent.ntf", "nitf: /nonexistent.ntf: no such file (-10)\n"},
      {"info --strict " + old, "FVER before offset 9: only version 02.10"},
      {"info --strict " + sample("misc/rgb16.ntf").string(), "NBPP"},
      {"text " + text + " 1", "no text segment 1"},
      {"copy " + text + " /proc/kvntfu.ntf",
       "cannot write the file: save: no new file can be made beside the target (-5)\n"},
      {"render /nonexistent.ntf -o " + dir.file("x.png").string(), "no such file"}};
  for (const auto& [args, message] : refusals) {
    ToolRun r = run(args);
    EXPECT_EQ(r.code, 1) << args;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir.file("x.png")));
  for (const char* usage :
       {"", "info", "info --bogus x.ntf", "frobnicate", "text", "text x.ntf y", "render",
        "render x.ntf --bpp 16", "render x.ntf --frobnicate", "render x.ntf --discard -o x.ppm",
        "render x.ntf --bpp 24 -o x.pgm", "render x.ntf -o x.bmp", "locate x.ntf 1",
        "locate x.ntf --ground 1 2", "locate x.ntf 1 y"})
    EXPECT_EQ(run(usage).code, 2) << usage;
  for (const char* help :
       {"help", "--version", "info --help", "text --help", "render --help", "copy --help",
        "set --help", "create --help", "append --help", "locate --help"})
    EXPECT_EQ(run(help).code, 0) << help;
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

Picture read_picture(const std::string& path) {
  Picture out;
  const std::string bytes = nitfgen::read_file(path);
  if (bytes.starts_with("\x89PNG")) {
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
  const auto pnm = parse_pnm(bytes);
  if (!pnm || pnm->maxval != 255) return out;
  for (std::size_t i = 0; i < pnm->samples.size() / std::size_t(pnm->channels) * 3; ++i)
    out.rgb.push_back(std::uint8_t(pnm->samples[pnm->channels == 1 ? i / 3 : i]));
  out.width = std::uint32_t(pnm->width), out.height = std::uint32_t(pnm->height);
  return out;
}

// The demo file's picture as PNG, PPM and PGM of the same pixels, JPEG and TIFF by their
// magic; a grey picture is a grey PNG; --discard composes every row and writes nothing.
TEST(Cli, Render) {
  TempDir dir;
  const std::string path = dir.write("demo.ntf", nitfgen::build(nitfgen::demo_file())).string();
  const std::string png = dir.file("24.png").string(), png8 = dir.file("8.png").string();
  ToolRun r = run("render " + path + " -o " + png);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "nitf: wrote " + png + " (240 x 176)\n");
  const Picture colour = read_picture(png);
  ASSERT_EQ(colour.width * colour.height, 240u * 176);
  EXPECT_EQ(colour.at(0, 0), 0x0000A0u) << "the gradient's corner: red 0, green 0, blue 160";
  EXPECT_EQ(colour.at(200, 10), 0x204060u) << "the file's background";
  EXPECT_EQ(colour.at(192, 128), 0x1E1E1Eu) << "the rings' centre";
  EXPECT_NEAR(int(colour.at(4, 132) & 0xFF), 40, 4) << "a dark JPEG square, then a light one";
  EXPECT_NEAR(int(colour.at(12, 132) & 0xFF), 220, 4);
  ASSERT_EQ(run("render " + path + " --bpp 8 -o " + png8).code, 0);
  EXPECT_EQ(nitfgen::read_file(png8)[25], '\0') << "colour type 0: grey";
  const std::pair<std::string, std::string> same[] = {{"--bpp 32", "demo.png"},
                                                      {"", "demo.ppm"},
                                                      {"--bpp 32", "demo32.ppm"},
                                                      {"--bpp 8", "demo8.pgm"}};
  for (const auto& [args, name] : same) {
    // Without -o the picture goes into the current folder.
    const bool beside = name == "demo.png", grey = name.ends_with(".pgm");
    ASSERT_EQ(run("render " + args + " " + path + (beside ? "" : " -o " + name), dir.file("")).code,
              0)
        << name;
    EXPECT_TRUE(read_picture(dir.file(name).string()).rgb == read_picture(grey ? png8 : png).rgb)
        << name;
  }
  for (const auto& [name, magic] :
       {std::pair<const char*, std::string>{"x.jpg", "\xFF\xD8\xFF"}, {"x.tif", "II*"}}) {
    ASSERT_EQ(run("render " + path + " -o " + dir.file(name).string()).code, 0) << name;
    EXPECT_TRUE(nitfgen::read_file(dir.file(name).string()).starts_with(magic)) << name;
  }
  EXPECT_TRUE(run("render " + path + " -o -").out.starts_with("\x89PNG"));
  fs::remove(dir.file("demo.png"));
  ToolRun discarded = run("render " + path + " --discard", dir.file(""));
  EXPECT_EQ(discarded.out, "nitf: composed " + path + " (240 x 176), 176 rows discarded\n");
  EXPECT_FALSE(fs::exists(dir.file("demo.png"))) << "--discard writes nothing";

  // A bitmap symbol has no drawing; an object symbol is an empty one.
  for (const char* sfmt : {"B", "O"}) {
    nitfgen::FileSpec layout;
    nitfgen::GraphicSpec symbol;
    symbol.fields["SFMT"] = sfmt;
    layout.graphics.push_back({nitfgen::graphic_subheader(symbol), ""});
    dir.write("graphic.ntf", nitfgen::build(layout));
    ToolRun refused = run("render graphic.ntf", dir.file(""));
    EXPECT_EQ(refused.code, *sfmt == 'O' ? 0 : 1) << sfmt;
    if (*sfmt == 'O') continue;
    EXPECT_NE(refused.err.find("not supported: graphic segment 0"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(dir.file("graphic.png"))) << "no partial picture";
  }
}

// The bundled demo file is what the generator makes.
TEST(Cli, DemoFile) {
  EXPECT_EQ(nitfgen::read_file(std::string(KVNTF_SOURCE_DIR) + "/samples/demo.ntf"),
            nitfgen::build(nitfgen::demo_file()))
      << "regenerate with: build/debug/bin/nitf-make-demo samples/demo.ntf";
}

// nitf set on every kind of segment, then values refused by the module or the client,
// fields that describe the stored data among them: nothing is written. The help lists
// the settable fields, none that describes the stored data.
TEST(Cli, Set) {
  REQUIRE_SAMPLES();
  TempDir dir;
  const std::string in = sample("jitc/i_3113g.ntf").string(), out = dir.file("set.ntf").string();
  ToolRun set =
      run("set " + in + " " + out +
          " ftitle='NEW TITLE' image[1].iloc=-12,40 graphic[1].sloc=5,12 image[0].idlvl=7");
  ASSERT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(set.out, out + ": 4 fields set\n");
  const std::string info = run("info " + out).out;
  for (const char* line : {"FTITLE     NEW TITLE\n", "ILOC       -12 40\n", "SLOC       5 12\n"})
    EXPECT_NE(info.find(line), std::string::npos) << line;
  ToolRun text =
      run("set " + sample("misc/WithBE.ntf").string() + " " + out + " text[0].txtitl=RETITLED");
  ASSERT_EQ(text.code, 0) << text.err;
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
    EXPECT_EQ(r.code, 1) << assignment;
    EXPECT_EQ(r.err.rfind("nitf: " + in + ": " + message, 0), 0u) << r.err;
  }
  EXPECT_EQ(run("set " + in + " " + refused + " nosuchfield=1").code, 2);
  EXPECT_FALSE(fs::exists(refused)) << "nothing is written";

  std::istringstream words(run("set --help").out);
  const std::set<std::string> listed{std::istream_iterator<std::string>(words), {}};
  EXPECT_TRUE(listed.count("sbnd2") && listed.count("txtitl") && listed.count("iid1"));
  const NitfFieldInfo* fields = nullptr;
  int32_t count = 0;
  EXPECT_EQ(Kv_NITFGetFieldTable(KV_FIELDS_DES + 1, &fields, &count), RET_BAD_ARGUMENT);
  for (int kind = KV_FIELDS_FILE; kind <= KV_FIELDS_DES; ++kind) {
    ASSERT_EQ(Kv_NITFGetFieldTable(kind, &fields, &count), RET_SUCCESS);
    for (int32_t i = 0; i < count; ++i) {
      std::string name = fields[i].name;
      for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_FALSE((fields[i].flags & KV_FIELD_LAYOUT) && listed.count(name)) << name;
    }
  }
}

// What `nitf create` stores: 16-bit PNG samples by their top 8 bits, texts with every
// byte, today's date, the given place, level and quality.
TEST(Cli, Create) {
  TempDir dir;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = image.height = 16;
  image.format = PNG_FORMAT_LINEAR_Y;
  const std::vector<std::uint16_t> samples(256, 32896);
  const std::string grey = dir.file("grey16.png").string();
  ASSERT_TRUE(png_image_write_to_file(&image, grey.c_str(), 0, samples.data(), 0, nullptr));
  const std::string text("abc\0def\n", 8);
  dir.write("t.txt", text);
  const std::string out = dir.file("c.ntf").string();
  ToolRun made = run("create " + out + " --image " + grey +
                     " --quality 100 --iloc 5,7 --level 9 --text " + dir.file("t.txt").string());
  ASSERT_EQ(made.code, 0) << made.err;
  EXPECT_EQ(run("text " + out + " 0").out, text);
  auto decoded = decode_image(out);
  EXPECT_NEAR(int(pixel_value(decoded->bitmap, 3, 3)), 128, 1) << "32896 is 128 in 8 bits";
  const std::string json = run("info --json " + out).out;
  EXPECT_NE(json.find("\"iloc\":[5,7]"), std::string::npos) << json;
  EXPECT_NE(json.find("\"idlvl\":9"), std::string::npos);
  EXPECT_EQ(json.find("\"fdt\":\"20050101010101\""), std::string::npos) << "dated now";
  EXPECT_EQ(run("create " + out + " --fdt 19991231235959").code, 0);
  EXPECT_NE(run("info --json " + out).out.find("\"fdt\":\"19991231235959\""), std::string::npos);
  for (const char* bad : {"--quality 0", "--quality 101", "--iloc 5", "--level 0"})
    EXPECT_EQ(run("create " + out + " --image " + grey + " " + bad).code, 2) << bad;
}

}  // namespace

// extract's TIFF holds what GDAL reads of the same window, bands and reduction.
TEST(Cli, Extract) {
  REQUIRE_SAMPLES();
  TempDir dir;
  const std::string in = sample("jitc/i_3301k.ntf").string(), tif = dir.file("x.tif").string();
  ToolRun r = run("extract " + in + " --region 8,4,40,30 --reduce 2 --bands 3,1 -o " + tif);
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string compare =
      "/usr/bin/python3 " KVNTF_SOURCE_DIR "/tests/gdal/window.py " + in + " " +
      dir.file("").string() +
      " 0,4,8,30,40,2,2+0 && /usr/bin/python3 -c 'import sys, numpy as np;"
      " from osgeo import gdal; a = np.moveaxis(gdal.Open(sys.argv[1]).ReadAsArray(), 0, -1);"
      " sys.exit(a.tobytes() != open(sys.argv[2], \"rb\").read())' " +
      tif + " " + dir.file("0.bin").string();
  EXPECT_EQ(std::system(compare.c_str()), 0);
  EXPECT_EQ(run("extract " + in + " --reduce 3 -o " + tif).code, 1);
  EXPECT_EQ(run("extract " + in + " --bands 0 -o " + tif).code, 2);
}

// GeoTIFF georeferencing against GDAL's of the NITF file: a rectangle of corners as the
// geotransform of the window at its reduction, other corners as the same four GCPs.
TEST(Cli, ExtractGeo) {
  REQUIRE_SAMPLES();
  TempDir dir;
  const std::string tif = dir.file("g.tif").string();
  const std::pair<std::string, std::string> cases[] = {
      {sample("jitc/i_3001a.ntf").string(), " --region 10,20,64,32 --reduce 2"},
      {(more_samples_dir() / "tre/rpc.ntf").string(), ""}};
  for (const auto& [in, args] : cases) {
    ASSERT_EQ(run("extract " + in + args + " -o " + tif).code, 0) << in;
    const std::string check =
        "/usr/bin/python3 -c 'import sys; from osgeo import gdal\n"
        "n, t = gdal.Open(sys.argv[1]), gdal.Open(sys.argv[2])\n"
        "a, b = n.GetGeoTransform(can_return_null=True), t.GetGeoTransform(can_return_null=True)\n"
        "x, y, r = (10, 20, 2) if sys.argv[3] else (0, 0, 1)\n"
        "w = a and (a[0] + x * a[1], a[1] * r, 0, a[3] + y * a[5], 0, a[5] * r)\n"
        "g = lambda d: [(round(p.GCPX, 9), round(p.GCPY, 9), p.GCPPixel, p.GCPLine) for p in "
        "d.GetGCPs()]\n"
        "ok = all(abs(u - v) < 1e-12 for u, v in zip(w, b)) if a else g(n) == g(t)\n"
        "sys.exit(not ok or t.GetSpatialRef() is None and not t.GetGCPSpatialRef())' " +
        in + " " + tif + " '" + args + "'";
    EXPECT_EQ(std::system(check.c_str()), 0) << in;
  }
}

// The finest level of tiles stitched together is the whole render; the coarsest is one
// tile of the picture at a quarter.
TEST(Cli, Tiles) {
  TempDir dir;
  const std::string path = dir.write("demo.ntf", nitfgen::build(nitfgen::demo_file())).string();
  const std::string tiles = dir.file("tiles").string(), whole = dir.file("whole.png").string();
  ASSERT_EQ(run("render " + path + " -o " + whole).code, 0);
  ToolRun r = run("tiles " + path + " " + tiles + " --tile 64");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(nitfgen::read_file(tiles + "/tiles.json").find("\"maxzoom\":2"), std::string::npos);
  const Picture want = read_picture(whole), top = read_picture(tiles + "/0/0/0.png");
  EXPECT_EQ(top.width * top.height, 60u * 44);
  for (std::uint32_t x = 0; x < want.width; x += 64)
    for (std::uint32_t y = 0; y < want.height; y += 64) {
      const Picture tile = read_picture(tiles + "/2/" + std::to_string(x / 64) + "/" +
                                        std::to_string(y / 64) + ".png");
      ASSERT_EQ(tile.width, std::min(64u, want.width - x));
      for (std::uint32_t i = 0; i < tile.width * tile.height; ++i)
        ASSERT_EQ(tile.at(i % tile.width, i / tile.width),
                  want.at(x + i % tile.width, y + i / tile.width));
    }
}
