// The client's conventions and the faults a new user found: output names and formats,
// one line per refusal, pictures and texts stored whole, create's dates and placement.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testing.h"

namespace {

using namespace testing_support;

struct ToolRun {
  int code;
  std::string out, err;
};

// The client with `args`, run in `folder`.
ToolRun nitf(const std::string& args, const fs::path& folder = fs::temp_directory_path()) {
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

// A grey PNG of one 16-bit value everywhere.
void write_png16(const fs::path& path, std::uint16_t value) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = image.height = 16;
  image.format = PNG_FORMAT_LINEAR_Y;
  std::vector<std::uint16_t> samples(256, value);
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, samples.data(), 0, nullptr));
}

TEST(Client, OutputNamesAndFormats) {
  REQUIRE_SAMPLES();
  TempDir dir;
  const std::string colour = sample("jitc/i_3201c.ntf").string();
  EXPECT_EQ(nitf("render " + colour, dir.file("")).code, 0);
  EXPECT_TRUE(fs::exists(dir.file("i_3201c.png"))) << "the current folder, not beside FILE";
  const struct {
    const char* name;
    std::string magic;
  } formats[] = {{"x.png", "\x89PNG"}, {"x.jpg", "\xFF\xD8\xFF"}, {"x.tif", "II*"}};
  for (const auto& f : formats) {
    ASSERT_EQ(nitf("render " + colour + " -o " + dir.file(f.name).string()).code, 0) << f.name;
    EXPECT_EQ(nitfgen::read_file(dir.file(f.name).string()).substr(0, f.magic.size()), f.magic);
  }
  EXPECT_EQ(nitf("render " + colour + " -o -").out.substr(0, 4), "\x89PNG");
  ToolRun refused = nitf("render " + colour + " -o " + dir.file("x.bmp").string());
  EXPECT_EQ(refused.code, 2);
  EXPECT_FALSE(fs::exists(dir.file("x.bmp")));
  // A grey picture is a grey PNG: colour type 0 in the header.
  ASSERT_EQ(
      nitf("render " + sample("jitc/i_3001a.ntf").string() + " -o " + dir.file("g.png").string())
          .code,
      0);
  EXPECT_EQ(nitfgen::read_file(dir.file("g.png").string())[25], '\0');
}

TEST(Client, OneLinePerRefusalAndConventions) {
  REQUIRE_SAMPLES();
  ToolRun r = nitf("info --strict " + sample("misc/rgb16.ntf").string());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("NBPP"), std::string::npos) << "the module's reason: " << r.err;
  for (const char* command :
       {"info", "text", "render", "copy", "set", "create", "append", "locate"})
    EXPECT_EQ(nitf(std::string(command) + " --help").code, 0) << command;
  EXPECT_EQ(nitf("--version").code, 0);
  EXPECT_EQ(nitf("render").code, 2);
  EXPECT_EQ(nitf("frobnicate").code, 2);
}

// What `nitf create` stores: 16-bit PNG samples by their top 8 bits, texts with every
// byte, today's date, the given place, level and quality.
TEST(Client, CreateStoresWhatItIsGiven) {
  TempDir dir;
  write_png16(dir.file("grey16.png"), 32896);
  const std::string text("abc\0def\n", 8);
  dir.write("t.txt", text);
  const std::string out = dir.file("c.ntf").string();
  ToolRun made = nitf("create " + out + " --image " + dir.file("grey16.png").string() +
                      " --quality 100 --iloc 5,7 --level 9 --text " + dir.file("t.txt").string());
  ASSERT_EQ(made.code, 0) << made.err;
  EXPECT_EQ(nitf("text " + out + " 0").out, text);
  auto image = decode_image(out);
  ASSERT_TRUE(image);
  EXPECT_NEAR(int(pixel_value(image->bitmap, 3, 3)), 128, 1) << "32896 is 128 in 8 bits";
  const std::string json = nitf("info --json " + out).out;
  EXPECT_NE(json.find("\"iloc\":[5,7]"), std::string::npos) << json;
  EXPECT_NE(json.find("\"idlvl\":9"), std::string::npos);
  EXPECT_EQ(json.find("\"fdt\":\"20050101010101\""), std::string::npos) << "dated now";
  EXPECT_EQ(nitf("create " + out + " --fdt 19991231235959").code, 0);
  EXPECT_NE(nitf("info --json " + out).out.find("\"fdt\":\"19991231235959\""), std::string::npos);
  for (const char* bad : {"--quality 0", "--quality 101", "--iloc 5", "--level 0"})
    EXPECT_EQ(
        nitf("create " + out + " --image " + dir.file("grey16.png").string() + " " + bad).code, 2)
        << bad;
}

}  // namespace
