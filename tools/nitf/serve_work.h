// The work behind `nitf serve`: the files it shows, the threads that render their tiles
// and answer questions about them, and the cache of tiles already made.
//
// A document is used by one thread at a time, so every render thread opens its own
// document of each file (on first use) and keeps it; a request is handed to whichever
// thread is free and waits for its answer. Nothing here knows about HTTP.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "cli.h"

namespace cli::serve {

// A file named on the command line, as read once when the server starts.
struct ServedFile {
  std::string path, name;          // as given, and the name the page shows
  uint32_t width = 0, height = 0;  // the composed canvas; 0 when it does not compose
  int finest = 0;                  // the tile level at the canvas's own scale
  int counts[3] = {};              // images, graphics (symbols), labels
  int texts = 0;
  bool nitf20 = false;
  std::string info_json, geo_json;  // the listings of `nitf info --json` and --geojson
};

// Segment kinds the page can hide, as the letters of a hide list.
inline constexpr char kHideLetters[3] = {'i', 'g', 'l'};

// Reads `path` for serving; the module's code.
int load_file(const std::string& path, int tile, ServedFile* out);

// A list of segments to hide ("g0,i2", in any order) checked against the file and put in
// one order, so that equal lists give equal cache keys; false when malformed or naming a
// segment the file does not have.
bool canonical_hide_list(const std::string& text, const ServedFile& file, std::string* out);

// The documents one render thread holds, one per file, and the hide list each was last
// given.
struct ThreadDocuments {
  std::vector<std::unique_ptr<Document>> documents;
  std::vector<std::string> hidden;
  // File `index` open with `hide` (a canonical list) applied; null when it does not open.
  NitfDocument* get(const std::vector<ServedFile>& files, std::size_t index,
                    const std::string& hide = std::string());
};

class RenderThreads {
 public:
  using Job = std::function<void(ThreadDocuments&)>;
  RenderThreads(const std::vector<ServedFile>& files, unsigned count);
  ~RenderThreads();
  RenderThreads(const RenderThreads&) = delete;
  RenderThreads& operator=(const RenderThreads&) = delete;
  // Runs `job` on a render thread and returns once it has run; false, without running
  // it, when more jobs wait than the queue takes.
  bool run(Job job);

 private:
  void loop();
  const std::vector<ServedFile>& files_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// Tiles by key, dropping the least recently used once they hold more than `capacity`
// bytes. Safe to use from many threads.
class TileCache {
 public:
  explicit TileCache(std::size_t capacity) : capacity_(capacity) {}
  // The tile under `key` into `png`: from the cache, or made by `make` (which returns
  // the module's code, or kBusy) once however many threads ask for it meanwhile, the
  // others waiting for that answer.
  int get(const std::string& key, const std::function<int(std::string*)>& make,
          std::shared_ptr<const std::string>* png);

 private:
  using Entry = std::pair<std::string, std::shared_ptr<const std::string>>;
  using Made = std::pair<int, std::shared_ptr<const std::string>>;
  void keep(const std::string& key, std::shared_ptr<const std::string> png);
  std::mutex mutex_;
  std::list<Entry> order_;  // most recent first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
  std::unordered_map<std::string, std::shared_future<Made>> making_;
  std::size_t bytes_ = 0, capacity_;
};

// What a tile's maker returns when the render threads had no room for it.
inline constexpr int kBusy = 2;

// Whether tile (z, x, y) exists in the file's pyramid (the z/x/y layout of `nitf tiles`).
bool tile_exists(const ServedFile& file, int tile, uint64_t z, uint64_t x, uint64_t y);
// Tile (z, x, y) as a tile x tile PNG: the canvas's window composed at the level's
// scale, as `nitf tiles` makes it, with the part beyond the canvas in kPadding. The
// module's code.
inline constexpr uint8_t kPadding[3] = {0x3a, 0x3f, 0x46};
int render_tile(NitfDocument* doc, const ServedFile& file, int tile, int z, uint64_t x, uint64_t y,
                std::string* png);

// What `write` puts into a stream, as a string.
std::string written(const std::function<void(std::FILE*)>& write);

}  // namespace cli::serve
