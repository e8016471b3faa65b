// The files, render threads, tile cache and tiles of `nitf serve` (serve_work.h).
#include "serve_work.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>

#include <kvhost.h>

#include "picture_writer.h"

namespace cli::serve {
namespace {

// More waiting jobs than this means the server is far behind; new ones are refused
// rather than queued without end.
constexpr std::size_t kQueueLimit = 512;

int kind_of(char letter, bool nitf20) {
  if (letter == 'i') return KV_FIELDS_IMAGE;
  if (letter == 'l') return KV_FIELDS_LABEL;
  return nitf20 ? KV_FIELDS_SYMBOL : KV_FIELDS_GRAPHIC;
}

// The canonical list's entries, as (letter, index).
std::vector<std::pair<char, int>> entries(const std::string& list) {
  std::vector<std::pair<char, int>> out;
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    out.emplace_back(list[at], std::atoi(list.substr(at + 1, end - at - 1).c_str()));
    at = end + 1;
  }
  return out;
}

// The level's pixels of a canvas side of `extent`, at `shift` halvings, rounded up.
uint64_t level_extent(uint64_t extent, int shift) {
  return (extent + (uint64_t{1} << shift) - 1) >> shift;
}

}  // namespace

std::string written(const std::function<void(std::FILE*)>& write) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  if (!out) return std::string();
  write(out);
  std::fclose(out);
  std::string text(data ? data : "", size);
  std::free(data);
  return text;
}

int load_file(const std::string& path, int tile, ServedFile* out) {
  Document doc;
  if (int r = doc.open(path); r != RET_SUCCESS) return r;
  out->path = path;
  out->name = std::filesystem::path(path).filename().string();
  out->counts[0] = Kv_NITFGetSegmentCount(doc.get(), KV_FIELDS_IMAGE);
  NitfHeader h{};
  if (Kv_NITFGetNITFHeader(doc.get(), &h) == RET_SUCCESS) {
    out->nitf20 = h.FVER > 1.95f && h.FVER < 2.05f;  // symbols and labels, not graphics
    Kv_NITFFreeNITFHeader(&h);
  }
  out->counts[1] = Kv_NITFGetGraphicHeaderCount(doc.get());
  out->counts[2] = Kv_NITFGetSegmentCount(doc.get(), KV_FIELDS_LABEL);
  out->texts = Kv_NITFGetTextHeaderCount(doc.get());
  int r = RET_SUCCESS;
  out->info_json = written([&](std::FILE* f) { r = write_info_json(path, doc.get(), f); });
  if (r != RET_SUCCESS) return r;
  out->geo_json = written([&](std::FILE* f) { print_geojson(doc.get(), f); });
  if (GetActual_Width_Height(doc.get(), &out->width, &out->height) != RET_SUCCESS)
    out->width = out->height = 0;
  out->finest = 0;
  while ((uint64_t{static_cast<uint64_t>(tile)} << out->finest) < std::max(out->width, out->height))
    ++out->finest;
  return RET_SUCCESS;
}

bool canonical_hide_list(const std::string& text, const ServedFile& file, std::string* out) {
  std::vector<std::pair<int, int>> items;  // (kind slot, index)
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find(',', at);
    if (end == std::string::npos) end = text.size();
    const char* slot = std::find(kHideLetters, kHideLetters + 3, text[at]);
    const std::size_t digits = end - at - 1;
    if (slot == kHideLetters + 3 || digits < 1 || digits > 4) return false;
    int index = 0;
    for (std::size_t i = at + 1; i < end; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      index = index * 10 + (text[i] - '0');
    }
    const int kind = static_cast<int>(slot - kHideLetters);
    if (index >= file.counts[kind]) return false;
    items.emplace_back(kind, index);
    at = end + 1;
    if (at == text.size()) return false;  // a trailing comma
  }
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  out->clear();
  for (const auto& [kind, index] : items) {
    if (!out->empty()) out->push_back(',');
    out->push_back(kHideLetters[kind]);
    out->append(std::to_string(index));
  }
  return true;
}

NitfDocument* ThreadDocuments::get(const std::vector<ServedFile>& files, std::size_t index,
                                   const std::string& hide) {
  if (documents.size() != files.size()) {
    documents.resize(files.size());
    hidden.resize(files.size());
  }
  if (!documents[index]) {
    auto doc = std::make_unique<Document>();
    if (doc->open(files[index].path) != RET_SUCCESS) return nullptr;
    documents[index] = std::move(doc);
    hidden[index].clear();
  }
  NitfDocument* doc = documents[index]->get();
  if (hidden[index] != hide) {
    const bool nitf20 = files[index].nitf20;
    for (const auto& [letter, i] : entries(hidden[index]))
      Kv_NtfShowSegment(doc, kind_of(letter, nitf20), i, 1);
    for (const auto& [letter, i] : entries(hide))
      Kv_NtfShowSegment(doc, kind_of(letter, nitf20), i, 0);
    hidden[index] = hide;
  }
  return doc;
}

RenderThreads::RenderThreads(const std::vector<ServedFile>& files, unsigned count) : files_(files) {
  for (unsigned i = 0; i < std::max(1u, count); ++i) threads_.emplace_back([this] { loop(); });
}

RenderThreads::~RenderThreads() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

bool RenderThreads::run(Job job) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kQueueLimit || stopping_) return false;
    queue_.push_back([&job, &done](ThreadDocuments& docs) {
      job(docs);
      done.set_value();
    });
  }
  wake_.notify_one();
  finished.wait();
  return true;
}

void RenderThreads::loop() {
  ThreadDocuments documents;
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and nothing is waiting for an answer
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    job(documents);
  }
}

int TileCache::get(const std::string& key, const std::function<int(std::string*)>& make,
                   std::shared_ptr<const std::string>* png) {
  std::promise<Made> promise;
  std::shared_future<Made> waiting;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = index_.find(key); it != index_.end()) {
      order_.splice(order_.begin(), order_, it->second);
      *png = it->second->second;
      return RET_SUCCESS;
    }
    if (auto it = making_.find(key); it != making_.end()) {
      waiting = it->second;
    } else {
      making_[key] = promise.get_future().share();
    }
  }
  if (waiting.valid()) {
    *png = waiting.get().second;
    return waiting.get().first;
  }
  auto made = std::make_shared<std::string>();
  const int r = make(made.get());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    making_.erase(key);
    if (r == RET_SUCCESS) keep(key, made);
  }
  promise.set_value({r, made});
  *png = std::move(made);
  return r;
}

void TileCache::keep(const std::string& key, std::shared_ptr<const std::string> png) {
  if (index_.count(key) || png->size() > capacity_) return;
  bytes_ += png->size() + key.size();
  order_.emplace_front(key, std::move(png));
  index_[key] = order_.begin();
  while (bytes_ > capacity_) {
    const Entry& last = order_.back();
    bytes_ -= last.second->size() + last.first.size();
    index_.erase(last.first);
    order_.pop_back();
  }
}

bool tile_exists(const ServedFile& file, int tile, uint64_t z, uint64_t x, uint64_t y) {
  if (file.width == 0 || z > static_cast<uint64_t>(file.finest)) return false;
  const int shift = file.finest - static_cast<int>(z);
  const uint64_t t = static_cast<uint64_t>(tile);
  return x < (level_extent(file.width, shift) + t - 1) / t &&
         y < (level_extent(file.height, shift) + t - 1) / t;
}

int render_tile(NitfDocument* doc, const ServedFile& file, int tile, int z, uint64_t x, uint64_t y,
                std::string* png) {
  const int shift = file.finest - z;
  const uint64_t t = static_cast<uint64_t>(tile), cell = t << shift;
  const int32_t region[4] = {
      static_cast<int32_t>(x * cell), static_cast<int32_t>(y * cell),
      static_cast<int32_t>(std::min<uint64_t>(cell, file.width - x * cell)),
      static_cast<int32_t>(std::min<uint64_t>(cell, file.height - y * cell))};
  const auto w = static_cast<int32_t>(std::min(t, level_extent(file.width, shift) - x * t));
  const auto h = static_cast<int32_t>(std::min(t, level_extent(file.height, shift) - y * t));
  KvBitmap bitmap{};
  if (int r = Kv_NtfRenderRegion(&bitmap, doc, region, w, h); r != RET_SUCCESS) return r;
  std::vector<uint8_t> row(t * 3);
  bool ok = true;
  *png = written([&](std::FILE* out) {
    std::unique_ptr<Encoder> encoder = make_png_encoder();
    ok = encoder->begin(out, tile, tile, 3);
    for (int32_t i = 0; ok && i < tile; ++i) {
      for (std::size_t p = 0; p < t; ++p) std::memcpy(&row[p * 3], kPadding, 3);
      if (i < h) {
        const int32_t stored = bitmap.view_code == 4 ? h - 1 - i : i;  // bottom-up rows
        const uint8_t* bgr = bitmap.data + static_cast<std::size_t>(stored) * bitmap.bytes_per_line;
        for (int32_t p = 0; p < w; ++p) {
          row[p * 3] = bgr[p * 3 + 2];
          row[p * 3 + 1] = bgr[p * 3 + 1];
          row[p * 3 + 2] = bgr[p * 3];
        }
      }
      ok = encoder->row(row.data());
    }
    ok = ok && encoder->end();
  });
  KvHost_FreeBitmap(&bitmap);
  return ok && !png->empty() ? RET_SUCCESS : RET_NO_MEMORY;
}

}  // namespace cli::serve
