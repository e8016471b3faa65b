// Times the composition of a file through the public API (Kv_NITFCreate and
// Kv_NtfRenderBitmap, no output encoding) and reports the peak resident memory:
//   nitf-render-bench FILE [RUNS]
// With THREADS, that many threads each open and render the file RUNS times with
// documents of their own, and the renders per second of all of them are reported:
//   nitf-render-bench FILE RUNS THREADS
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include <kvntfu.h>

#include "kernel.h"

// Renders per second of `threads` threads rendering `file` `runs` times each.
int on_threads(const char* file, int runs, int threads) {
  std::vector<std::thread> running;
  int failures = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int t = 0; t < threads; ++t)
    running.emplace_back([&] {
      for (int i = 0; i < runs; ++i) {
        NitfDocument* doc = nullptr;
        KvBitmap canvas{};
        if (Kv_NITFCreateA(&doc, file) != RET_SUCCESS ||
            Kv_NtfRenderBitmap(&canvas, doc) != RET_SUCCESS)
          __atomic_add_fetch(&failures, 1, __ATOMIC_RELAXED);
        kernel::free_bitmap(reinterpret_cast<kernel::Bitmap*>(&canvas));
        if (doc) Kv_NITFDestroy(&doc);
      }
    });
  for (std::thread& t : running) t.join();
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %d thread(s), %.2f renders/s (%d failed)\n", file, threads, threads * runs / s,
              failures);
  return failures ? 1 : 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: nitf-render-bench FILE [RUNS [THREADS]]\n");
    return 2;
  }
  int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  if (argc > 3) return on_threads(argv[1], runs, std::atoi(argv[3]));
  std::vector<double> seconds;
  int width = 0, height = 0;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    NitfDocument* doc = nullptr;
    if (int r = Kv_NITFCreateA(&doc, argv[1]); r != RET_SUCCESS) {
      std::fprintf(stderr, "nitf-render-bench: %s: open gives %d\n", argv[1], r);
      return 1;
    }
    KvBitmap canvas{};
    int r = Kv_NtfRenderBitmap(&canvas, doc);
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    width = canvas.width;
    height = canvas.height;
    kernel::free_bitmap(reinterpret_cast<kernel::Bitmap*>(&canvas));
    Kv_NITFDestroy(&doc);
    if (r != RET_SUCCESS) {
      std::fprintf(stderr, "nitf-render-bench: %s: render gives %d\n", argv[1], r);
      return 1;
    }
  }
  std::sort(seconds.begin(), seconds.end());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%s: %d x %d, median %.3f s (min %.3f, max %.3f, %d runs), peak RSS %.0f MiB\n",
              argv[1], width, height, seconds[seconds.size() / 2], seconds.front(), seconds.back(),
              runs, usage.ru_maxrss / 1024.0);
  return 0;
}
