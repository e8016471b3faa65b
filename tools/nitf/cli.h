// The nitf command-line client: shared pieces of its commands.
#pragma once

#include <kvntfu.h>

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// Exit codes: 0 done, 1 the module refused or failed, 2 the command line was wrong.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Options every command takes, given before or after the command's own.
struct Settings {
  bool strict = false;  // --strict: the module's reading without KV_NITF_EXTENDED
  bool quiet = false;   // --quiet: no progress on standard error
};
Settings& settings();
// The load-option bits every fltInfo and fltLoad of the client carries.
uint32_t reading_flags();

// Routes the module's message boxes and debug lines through the client, so that a
// failure prints one line with the reason the module gave (KVNTF_DEBUG=1 still shows
// every debug line).
void install_sinks();

// Progress of work that takes more than about a second, on standard error, only when
// it is a terminal and --quiet was not given.
class Progress {
 public:
  void update(const char* what, uint64_t done, uint64_t total);
  void done();

 private:
  double started_ = -1, shown_ = 0;
  bool visible_ = false;
};

// What a return code means, for a person.
const char* describe(int code);
// Prints "nitf: FILE: <what went wrong> (<code>)" and returns kExitFailed.
int fail(const std::string& file, int code);
int usage_error(const std::string& message);

// Unsigned numbers separated by `separator` ("8,4,40,30", "640x480"): exactly `count`
// of them (at least one when `count` is 0), each at most `max`.
bool parse_numbers(const std::string& text, char separator, std::size_t count, uint32_t max,
                   std::vector<uint32_t>* out);

// An open document that closes itself.
class Document {
 public:
  Document() = default;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  ~Document() {
    if (handle_) Kv_NITFDestroy(&handle_);
  }
  int open(const std::string& path) {
    return Kv_NITFCreateExA(&handle_, path.c_str(), settings().strict ? 0 : KV_NITF_EXTENDED);
  }
  NitfDocument* get() const { return handle_; }

 private:
  NitfDocument* handle_ = nullptr;
};

// A UTF-8 file name as the wide name the filter entry points take; empty when the
// name is not UTF-8.
std::wstring wide_name(const std::string& utf8);
// The composed canvas size of a file, as fltInfo reports it for the load-option bits
// `flags`; the module's code on failure.
int canvas_info(const std::string& file, uint32_t flags, uint32_t* width, uint32_t* height);

int run_info(const std::vector<std::string>& args);
int run_text(const std::vector<std::string>& args);
int run_render(const std::vector<std::string>& args);
int run_extract(const std::vector<std::string>& args);
int run_tiles(const std::vector<std::string>& args);
int run_copy(const std::vector<std::string>& args);
int run_set(const std::vector<std::string>& args);
int run_create(const std::vector<std::string>& args);
int run_append(const std::vector<std::string>& args);
int run_locate(const std::vector<std::string>& args);

// The listing of `nitf info --json` of `file`, open as `doc`, written to `out`; the
// module's code.
int write_info_json(const std::string& file, NitfDocument* doc, std::FILE* out);
int run_serve(const std::vector<std::string>& args);

// Image `index`'s corners as "LAT,LON LAT,LON LAT,LON LAT,LON (source)", empty when the
// image is not located.
std::string corners_text(NitfDocument* doc, int index);
// Every image's footprint as a GeoJSON FeatureCollection (with "rpc": whether the
// image's RPC projects), on standard output unless `out` is given.
void print_geojson(NitfDocument* doc, std::FILE* out = stdout);

}  // namespace cli
