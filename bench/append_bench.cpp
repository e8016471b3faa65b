// Times appending one large RGB picture as a JPEG-compressed image (one encode straight
// from the bitmap) and reports the peak resident memory beside the picture's size:
//   nitf-append-bench [SIDE] [QUALITY]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <kvntfu.h>

#include "kernel/bitmap.h"

namespace {

double peak_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  const int side = argc > 1 ? std::atoi(argv[1]) : 8192;
  const int quality = argc > 2 ? std::atoi(argv[2]) : 190;
  kernel::Bitmap picture;
  if (kernel::create_bitmap(&picture, kernel::kBitmapRecordSize, 1, side, side, 24,
                            kernel::kColourRgb, nullptr, kernel::kViewTopDown, nullptr,
                            0) != RET_SUCCESS) {
    std::fprintf(stderr, "nitf-append-bench: no memory for a %d x %d picture\n", side, side);
    return 1;
  }
  for (int y = 0; y < side; ++y) {
    std::uint8_t* row = kernel::storage_row(picture, y);
    for (int x = 0; x < side; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(y);
      row[3 * x + 1] = static_cast<std::uint8_t>(x ^ y);
      row[3 * x + 2] = static_cast<std::uint8_t>(x);
    }
  }
  const double before = peak_mib();
  NitfDocument* doc = nullptr;
  Kv_NITFCreate(&doc, nullptr);
  const auto start = std::chrono::steady_clock::now();
  const int r =
      Kv_NITFAppendImageSegment(doc, reinterpret_cast<KvBitmap*>(&picture), 10, 24, quality);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  NitfHeader h{};
  Kv_NITFGetNITFHeader(doc, &h);
  const double stream_mib = h.NUMI ? h.LI[0] / 1048576.0 : 0;
  Kv_NITFFreeNITFHeader(&h);
  std::printf(
      "append %d x %d RGB, quality %d: result %d, %.3f s, stream %.1f MiB, picture %.1f MiB, "
      "peak %.1f MiB (%.1f MiB before the append)\n",
      side, side, quality, r, seconds, stream_mib, picture.data_size / 1048576.0, peak_mib(),
      before);
  Kv_NITFDestroy(&doc);
  kernel::free_bitmap(&picture);
  return r == RET_SUCCESS ? 0 : 1;
}
