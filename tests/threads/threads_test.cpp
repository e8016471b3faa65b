// Documents share nothing: every sample opened, rendered whole and by region, its
// samples read, its header edited, a text appended and saved, on 8 threads at once with
// a document each, gives what a serial run gives. Built on its own with
// ThreadSanitizer as well (test.sh, build/tsan), which must stay silent. Exit 1 on a
// difference:   kvntfu_threads [SAMPLES]
#include <kvhost.h>
#include <kvntfu.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// FNV-1a of a run of bytes, appended to `out` as text.
void hash(std::string& out, const void* bytes, std::size_t n) {
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t i = 0; i < n; ++i)
    h = (h ^ static_cast<const std::uint8_t*>(bytes)[i]) * 1099511628211ull;
  out += " " + std::to_string(h);
}

void picture(std::string& out, int r, KvBitmap& b) {
  out += " " + std::to_string(r);
  if (r == RET_SUCCESS) hash(out, b.data, b.data_size);
  KvHost_FreeBitmap(&b);
}

// Everything one document gives, as text; `scratch` is the calling thread's own folder.
std::string work(const fs::path& file, const fs::path& scratch) {
  NitfDocument* d = nullptr;
  std::string out = std::to_string(Kv_NITFCreateA(&d, file.c_str()));
  if (!d) return out;
  KvBitmap whole{}, part{};
  picture(out, Kv_NtfRenderBitmap(&whole, d), whole);
  const std::int32_t w = whole.width, h = whole.height,
                     region[4] = {w / 4, h / 4, w / 2 + 1, h / 2 + 1};
  if (w > 0 && h > 0)
    picture(out, Kv_NtfRenderRegion(&part, d, region, w / 3 + 1, h / 3 + 1), part);
  for (std::int32_t i = 0; i < Kv_NITFGetImageHeaderCount(d); ++i) {
    KvImageInfo info{};
    if (Kv_NITFGetImageInfo(d, i, &info) != RET_SUCCESS) continue;
    const std::uint32_t band = 0;
    KvSampleRequest request{0, 0, info.rows, info.columns, 2, &band, 1, KV_SAMPLES_BY_PIXEL};
    const std::size_t stride = (info.columns + 1) / 2 * info.sample_bytes;
    std::vector<std::uint8_t> samples(stride * ((info.rows + 1) / 2));
    out += " " + std::to_string(
                     Kv_NITFReadSamples(d, i, &request, samples.data(), samples.size(), stride));
    hash(out, samples.data(), samples.size());
  }
  NitfHeader header{};
  if (Kv_NITFGetNITFHeader(d, &header) == RET_SUCCESS) {
    char title[] = "on many threads", *read = header.FTITLE;
    header.FTITLE = title;
    out += " " + std::to_string(Kv_NITFSetNITFHeader(d, &header));
    header.FTITLE = read;
    Kv_NITFFreeNITFHeader(&header);
  }
  const fs::path text = scratch / "text.txt", saved = scratch / "saved.ntf";
  std::ofstream(text) << "appended from " << file.filename().string();
  out += " " + std::to_string(Kv_NITFAppendTextSegmentA(d, text.c_str()));
  out += " " + std::to_string(Kv_NITFSaveFileA(d, saved.c_str()));
  std::stringstream bytes;
  bytes << std::ifstream(saved, std::ios::binary).rdbuf();
  hash(out, bytes.str().data(), bytes.str().size());
  Kv_NITFDestroy(&d);
  return out;
}

// Runs `threads` threads, thread t doing every file (starting at file t).
std::vector<std::vector<std::string>> on_threads(const std::vector<fs::path>& files, int threads) {
  std::vector<std::vector<std::string>> out(threads, std::vector<std::string>(files.size()));
  std::vector<std::thread> running;
  for (int t = 0; t < threads; ++t)
    running.emplace_back([&, t] {
      const fs::path scratch =
          fs::temp_directory_path() /
          ("kvntfu-threads-" + std::to_string(::getpid()) + "-" + std::to_string(t));
      fs::create_directories(scratch);
      for (std::size_t k = 0; k < files.size(); ++k) {
        const std::size_t i = (k + t) % files.size();
        out[t][i] = work(files[i], scratch);
      }
      fs::remove_all(scratch);
    });
  for (std::thread& t : running) t.join();
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("NITF_SAMPLES");
  const fs::path folder = argc > 1 ? argv[1] : env ? env : KVNTF_SAMPLES_DIR;
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.path().extension() == ".ntf" && e.file_size() < (8 << 20)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no samples in %s\n", folder.c_str());
    return 1;
  }
  KvHost_SetMessageSink([](void*, const char*, const char*) {}, nullptr);  // refusals are expected
  const auto serial = on_threads(files, 1)[0];
  int differences = 0;
  for (const auto& results : on_threads(files, 8))
    for (std::size_t i = 0; i < files.size(); ++i)
      if (results[i] != serial[i]) {
        std::fprintf(stderr, "%s: %s on a thread, %s alone\n", files[i].c_str(), results[i].c_str(),
                     serial[i].c_str());
        ++differences;
      }
  std::printf("%zu files on 8 threads: %d differences\n", files.size(), differences);
  return differences ? 1 : 0;
}
