// Saves that fail or die half way: every write, sync, link and rename a save makes
// failed in turn (through the file layer's test seam), a small file system filled up,
// and a saving process killed at random moments. The target is always the whole old
// file or the whole new one, nothing is left beside it, and the document saves on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "file_faults.h"
#include "nitfgen_image.h"
#include "testing.h"

extern char** environ;

namespace {

using namespace testing_support;
using file_faults::Call;

// The names in the folder.
std::set<std::string> names_in(const fs::path& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename());
  return out;
}

// A file of one uncompressed image of rows x columns bytes, one block.
std::string large_file(int rows, int columns) {
  nitfgen::ImageShape shape;
  shape.nrows = shape.nppbv = rows;
  shape.ncols = shape.nppbh = columns;
  nitfgen::FileSpec f;
  f.images.push_back(nitfgen::image_segment(shape, std::string(std::size_t(rows) * columns, 'k')));
  return nitfgen::build(f);
}

class Faults : public LeakChecked {
 protected:
  // Saves `source` over an existing target (`fresh`: to a name not taken, where the
  // unnamed file is linked directly) with each call of each kind failing in turn:
  // RET_FILE_WRITE, the target unchanged (but when the folder's sync after the rename
  // failed: the new file), nothing else in the folder; the same document then saves.
  void fail_every_call(const fs::path& source, bool fresh = false) {
    SCOPED_TRACE(source.string() + (fresh ? " to a new name" : ""));
    PublicDoc doc(source);
    ASSERT_EQ(doc.result, RET_SUCCESS);
    const fs::path target = dir_.file("target.ntf"), other = dir_.file("other.ntf");
    const std::string old = fresh ? "" : "old";  // "": no file
    auto reset = [&] { fresh ? void(fs::remove(target)) : void(dir_.write("target.ntf", old)); };
    reset();
    file_faults::arm();
    ASSERT_EQ(Kv_NITFSaveFileA(doc.d, target.c_str()), RET_SUCCESS);
    const std::string saved = nitfgen::read_file(target.string());
    int counts[int(Call::kKinds)];
    for (int k = 0; k < int(Call::kKinds); ++k) counts[k] = file_faults::calls(Call(k));
    EXPECT_GE(counts[int(Call::kSync)], 2) << "the file and its folder";
    for (int k = 0; k < int(Call::kUnnamed); ++k) {
      for (int n = 1; n <= counts[k]; ++n) {
        SCOPED_TRACE("call kind " + std::to_string(k) + ", number " + std::to_string(n));
        reset();
        file_faults::arm(Call(k), n, n % 2 ? ENOSPC : EIO);
        EXPECT_EQ(Kv_NITFSaveFileA(doc.d, target.c_str()), RET_FILE_WRITE);
        const bool folder_sync = Call(k) == Call::kSync && n == counts[k];
        EXPECT_EQ(fs::exists(target) ? nitfgen::read_file(target.string()) : "",
                  folder_sync ? saved : old);
        reset();
        EXPECT_EQ(names_in(dir_.file("")).size(), fresh ? 0u : 1u);
        file_faults::arm();
        ASSERT_EQ(Kv_NITFSaveFileA(doc.d, other.c_str()), RET_SUCCESS);
        EXPECT_EQ(nitfgen::read_file(other.string()), saved);
        fs::remove(other);
      }
    }
  }

  TempDir dir_, sources_;
};

TEST_F(Faults, EveryCall) {
  REQUIRE_SAMPLES();
  MessageCapture quiet;
  // Graphics and two images, a text and a graphic, a data extension, JPEG 2000, and
  // 5 MiB that take more than one staging buffer.
  const fs::path large = sources_.write("large.ntf", large_file(2048, 2560));
  // With an unnamed file, and with the named temporary of file systems that have none.
  for (bool named : {false, true}) {
    file_faults::state().named_only = named;
    for (const char* name : {"jitc/i_3113g.ntf", "misc/WithBE.ntf", "misc/test_des_read.ntf",
                             "j2k/046_512x512_s_8_3_rgb_j2c.ntf"})
      fail_every_call(sample(name));
    fail_every_call(large);
    fail_every_call(sample("jitc/i_3113g.ntf"), true);
  }
  file_faults::state().named_only = false;
}

// A real file system that fills up: a 256 KiB tmpfs (mounting needs root and the right
// to mount; skipped otherwise).
TEST_F(Faults, FullDisk) {
  const fs::path mounted = dir_.file("small");
  fs::create_directory(mounted);
  if (::geteuid() != 0 || ::mount("tmpfs", mounted.c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  const fs::path source = sources_.write("large.ntf", large_file(1024, 1024));
  {
    PublicDoc doc(source);
    const fs::path target = mounted / "target.ntf";
    nitfgen::write_file(target.string(), "old");
    MessageCapture quiet;
    EXPECT_EQ(Kv_NITFSaveFileA(doc.d, target.c_str()), RET_FILE_WRITE);
    EXPECT_EQ(nitfgen::read_file(target.string()), "old");
    EXPECT_EQ(names_in(mounted), std::set<std::string>{"target.ntf"});
    EXPECT_EQ(Kv_NITFSaveFileA(doc.d, dir_.file("other.ntf").c_str()), RET_SUCCESS);
    EXPECT_EQ(nitfgen::read_file(dir_.file("other.ntf").string()),
              nitfgen::read_file(source.string()));
  }
  EXPECT_EQ(::umount(mounted.c_str()), 0);
}

// `nitf copy` of a 25 MB file over a target, killed at random moments: the target is
// the whole old or the whole new file and parses. Nothing is left beside it, but for
// the rare kill between the unnamed file's link and its rename, which leaves that name
// holding the whole new file.
TEST_F(Faults, Kills) {
  REQUIRE_SAMPLES();
  const std::string old_bytes = nitfgen::read_file(sample("jitc/i_3004g.ntf").string());
  const fs::path source = sources_.write("large.ntf", large_file(4096, 6144));
  const std::string new_bytes = nitfgen::read_file(source.string());
  const fs::path target = dir_.file("target.ntf");
  auto run = [&](double seconds) {
    char tool[] = KVNTF_NITF_TOOL, copy[] = "copy", quiet[] = "--quiet",
         no_leak_check[] = "ASAN_OPTIONS=detect_leaks=0";
    std::string from = source.string(), to = target.string();
    char* argv[] = {tool, copy, from.data(), to.data(), quiet, nullptr};
    posix_spawn_file_actions_t quietly;
    posix_spawn_file_actions_init(&quietly);
    posix_spawn_file_actions_addopen(&quietly, 1, "/dev/null", O_WRONLY, 0);
    pid_t child;
    // A sanitizer build's leak check at exit would take most of the run's time.
    std::vector<char*> env = {no_leak_check};
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "ASAN_OPTIONS=", 13)) env.push_back(*e);
    env.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&child, tool, &quietly, nullptr, argv, env.data()), 0);
    posix_spawn_file_actions_destroy(&quietly);
    const auto start = std::chrono::steady_clock::now();
    if (seconds >= 0) {
      std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  dir_.write("target.ntf", old_bytes);
  const double whole = run(-1);
  ASSERT_EQ(nitfgen::read_file(target.string()), new_bytes);
  std::mt19937 random(23);
  std::uniform_real_distribution<double> moment(0, whole);
  int outcomes[2] = {};
  for (int i = 0; i < 100; ++i) {
    dir_.write("target.ntf", old_bytes);
    const double at = moment(random);
    run(at);
    SCOPED_TRACE("killed after " + std::to_string(at) + " s");
    const std::string now = nitfgen::read_file(target.string());
    ASSERT_TRUE(now == old_bytes || now == new_bytes);
    ++outcomes[now == new_bytes];
    EXPECT_EQ(parse(target).result, RET_SUCCESS);
    for (const std::string& name : names_in(dir_.file("")))
      if (name != "target.ntf") {
        EXPECT_EQ(nitfgen::read_file(dir_.file(name).string()), new_bytes) << name;
        fs::remove(dir_.file(name));
      }
  }
  std::printf("killed copies: %d left the old file, %d the new one (a whole copy: %.2f s)\n",
              outcomes[0], outcomes[1], whole);
  EXPECT_GT(outcomes[0], 0);
}

}  // namespace
