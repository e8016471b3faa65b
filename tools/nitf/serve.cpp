// nitf serve: the named files in a web browser. A small HTTP server (cpp-httplib) whose
// page (tools/nitf/web, built into the client) shows each file's composed picture with
// pan and zoom over a tile pyramid rendered on demand, its segments, headers and TREs,
// switches that hide segments, and where the pointer lies on the ground.
//
// Everything it answers with is either built into the client, read from Leaflet's
// Debian package when the server starts, or made from the named files: no request
// names a path on disk, so a request cannot reach a file that was not named. URLs are
// matched whole against fixed patterns with bounded numbers; anything else is a 4xx.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "json.h"
#include "serve_work.h"

#ifndef KVNTF_LEAFLET_DIR
#define KVNTF_LEAFLET_DIR "/usr/share/javascript/leaflet"
#endif

namespace cli {

// The page's files, built in from tools/nitf/web (serve_page.cpp is generated).
struct PageFile {
  const char* name;
  const unsigned char* data;
  std::size_t size;
};
extern const PageFile kPageFiles[];
extern const std::size_t kPageFileCount;

namespace {

constexpr const char* kUsage =
    "serve: usage: nitf serve FILE... [--port N] [--host ADDRESS] [--threads N]";
constexpr int kTile = 256;
constexpr std::size_t kCacheBytes = std::size_t{64} << 20;

// The files of Leaflet the page uses; read once, served from memory.
constexpr const char* kLeafletFiles[] = {"leaflet.js", "leaflet.css", "images/layers.png",
                                         "images/layers-2x.png"};

struct Asset {
  std::string body;
  const char* type;
};

const char* content_type(const std::string& name) {
  const std::string ext = name.substr(name.rfind('.') + 1);
  if (ext == "html") return "text/html; charset=utf-8";
  if (ext == "js") return "text/javascript; charset=utf-8";
  if (ext == "css") return "text/css; charset=utf-8";
  if (ext == "png") return "image/png";
  if (ext == "svg") return "image/svg+xml";
  return "application/octet-stream";
}

bool read_whole(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  *out = text.str();
  return in.good() || in.eof();
}

// A whole decimal number of at most 10 digits (the routes' patterns guarantee digits).
uint64_t number(const std::string& digits) {
  return std::strtoull(digits.c_str(), nullptr, 10);
}

// A finite number taking the whole text.
bool real(const std::string& text, double* value) {
  if (text.empty() || text.size() > 40) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && *value == *value && *value - *value == 0;
}

class Server {
 public:
  Server(std::vector<serve::ServedFile> files, unsigned threads)
      : files_(std::move(files)), render_(files_, threads), cache_(kCacheBytes) {}

  bool load_assets(std::string* missing) {
    for (std::size_t i = 0; i < kPageFileCount; ++i)
      assets_["/web/" + std::string(kPageFiles[i].name)] = {
          std::string(reinterpret_cast<const char*>(kPageFiles[i].data), kPageFiles[i].size),
          content_type(kPageFiles[i].name)};
    assets_["/"] = assets_["/web/index.html"];
    for (const char* name : kLeafletFiles) {
      const std::string path = std::string(KVNTF_LEAFLET_DIR) + "/" + name;
      Asset a{std::string(), content_type(name)};
      if (!read_whole(path, &a.body) || a.body.empty()) {
        *missing = path;
        return false;
      }
      assets_["/leaflet/" + std::string(name)] = std::move(a);
    }
    return true;
  }

  void routes(httplib::Server& http) {
    http.set_pre_routing_handler(
        [](const httplib::Request& q, httplib::Response& a) { return screen(q, a); });
    http.set_post_routing_handler([](const httplib::Request&, httplib::Response& a) {
      a.set_header("X-Content-Type-Options", "nosniff");
      a.set_header("Content-Security-Policy",
                   "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:");
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& a) {
      a.set_content(std::to_string(a.status) + "\n", "text/plain");
    });
    http.Get(
        R"(/|/web/[a-z0-9_-]{1,40}\.[a-z]{1,4}|/leaflet/(images/)?[a-z0-9-]{1,20}\.[a-z]{2,3})",
        [this](const httplib::Request& q, httplib::Response& a) {
          auto it = assets_.find(q.path);
          if (it == assets_.end()) return void(a.status = 404);
          a.set_content(it->second.body, it->second.type);
        });
    http.Get("/api/files", [this](const httplib::Request&, httplib::Response& a) {
      a.set_content(file_list(), "application/json");
    });
    http.Get(R"(/api/file/(\d{1,4})/(info|geo))", [this](const httplib::Request& q,
                                                         httplib::Response& a) {
      const serve::ServedFile* f = file(q.matches[1]);
      if (!f) return void(a.status = 404);
      a.set_content(q.matches[2] == "info" ? f->info_json : f->geo_json, "application/json");
    });
    http.Get(R"(/api/file/(\d{1,4})/text/(\d{1,4}))",
             [this](const httplib::Request& q, httplib::Response& a) { text(q, a); });
    http.Get(R"(/api/file/(\d{1,4})/ground)",
             [this](const httplib::Request& q, httplib::Response& a) { ground(q, a); });
    http.Get(R"(/api/file/(\d{1,4})/tile/(\d{1,2})/(\d{1,10})/(\d{1,10})\.png)",
             [this](const httplib::Request& q, httplib::Response& a) { tile(q, a); });
  }

 private:
  // Refuses what no route should see: methods other than GET and HEAD, a body, targets
  // that do not start at the root, climb a folder or carry an encoded separator or dot.
  static httplib::Server::HandlerResponse screen(const httplib::Request& q, httplib::Response& a) {
    std::string target = q.target;
    for (char& c : target) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool bad =
        target.empty() || target[0] != '/' || target.find("..") != std::string::npos ||
        target.find('\\') != std::string::npos || target.find("%2f") != std::string::npos ||
        target.find("%5c") != std::string::npos || target.find("%2e") != std::string::npos ||
        target.find("%00") != std::string::npos || target.find("//") == 0 ||
        q.has_header("Transfer-Encoding") ||
        (q.has_header("Content-Length") && q.get_header_value("Content-Length") != "0");
    if (q.method != "GET" && q.method != "HEAD") {
      a.status = 405;
    } else if (bad) {
      a.status = 400;
    } else {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    a.set_content(std::to_string(a.status) + "\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  }

  const serve::ServedFile* file(const std::string& digits) const {
    const uint64_t i = number(digits);
    return i < files_.size() ? &files_[i] : nullptr;
  }

  std::string file_list() const {
    return serve::written([&](std::FILE* out) {
      JsonWriter json(out);
      json.begin_array();
      for (std::size_t i = 0; i < files_.size(); ++i) {
        const serve::ServedFile& f = files_[i];
        json.begin_object();
        json.number("index", static_cast<long long>(i));
        json.string("name", f.name);
        json.number("width", f.width);
        json.number("height", f.height);
        json.number("tile", kTile);
        json.number("maxzoom", f.finest);
        json.raw("nitf20", f.nitf20 ? "true" : "false");
        json.end_object();
      }
      json.end_array();
    });
  }

  void text(const httplib::Request& q, httplib::Response& a) {
    const serve::ServedFile* f = file(q.matches[1]);
    const uint64_t index = number(q.matches[2]);
    if (!f || index >= static_cast<uint64_t>(f->texts)) return void(a.status = 404);
    std::string body;
    int r = RET_FAILURE;
    const std::size_t slot = static_cast<std::size_t>(f - files_.data());
    if (!render_.run([&](serve::ThreadDocuments& docs) {
          NitfDocument* doc = docs.get(files_, slot);
          uint32_t length = 0;
          r = doc ? Kv_NITFGetTextSegment(doc, static_cast<int32_t>(index), nullptr, &length)
                  : RET_FILE_READ;
          if (r != RET_SUCCESS) return;
          body.assign(std::size_t{length} + 1, '\0');
          r = Kv_NITFGetTextSegment(doc, static_cast<int32_t>(index), body.data(), &length);
          body.resize(length);
        }))
      return void(a.status = 503);
    if (r != RET_SUCCESS) return void(a.status = 500);
    // Text is ECS (Latin-1 at most); the page shows it as text, never as markup.
    a.set_content(body, "text/plain; charset=iso-8859-1");
  }

  // Latitude and longitude of an image's row and column through its RPC, at height 0.
  void ground(const httplib::Request& q, httplib::Response& a) {
    const serve::ServedFile* f = file(q.matches[1]);
    double image = 0, row = 0, column = 0;
    if (!f) return void(a.status = 404);
    if (!real(q.get_param_value("image"), &image) || !real(q.get_param_value("row"), &row) ||
        !real(q.get_param_value("col"), &column) || image < 0 || image >= f->counts[0] ||
        image != static_cast<int>(image))
      return void(a.status = 400);
    double lat = 0, lon = 0;
    int r = RET_FAILURE;
    const std::size_t slot = static_cast<std::size_t>(f - files_.data());
    if (!render_.run([&](serve::ThreadDocuments& docs) {
          NitfDocument* doc = docs.get(files_, slot);
          r = doc ? Kv_NITFImageToGround(doc, static_cast<uint32_t>(image), row, column, 0.0, &lat,
                                         &lon)
                  : RET_FILE_READ;
        }))
      return void(a.status = 503);
    if (r != RET_SUCCESS) return void(a.status = 404);
    a.set_content(serve::written([&](std::FILE* out) {
                    JsonWriter json(out);
                    json.begin_object();
                    json.real("lat", lat);
                    json.real("lon", lon);
                    json.end_object();
                  }),
                  "application/json");
  }

  void tile(const httplib::Request& q, httplib::Response& a) {
    const serve::ServedFile* f = file(q.matches[1]);
    const uint64_t z = number(q.matches[2]), x = number(q.matches[3]), y = number(q.matches[4]);
    if (!f || !serve::tile_exists(*f, kTile, z, x, y)) return void(a.status = 404);
    std::string hide;
    const std::string asked = q.get_param_value("hide");
    if (asked.size() > 8000 || !serve::canonical_hide_list(asked, *f, &hide))
      return void(a.status = 400);
    const std::size_t slot = static_cast<std::size_t>(f - files_.data());
    const std::string key = std::to_string(slot) + "/" + std::to_string(z) + "/" +
                            std::to_string(x) + "/" + std::to_string(y) + "?" + hide;
    std::shared_ptr<const std::string> png;
    const int r = cache_.get(
        key,
        [&](std::string* made) {
          int code = RET_FAILURE;
          if (!render_.run([&](serve::ThreadDocuments& docs) {
                NitfDocument* doc = docs.get(files_, slot, hide);
                code = doc ? serve::render_tile(doc, *f, kTile, static_cast<int>(z), x, y, made)
                           : RET_FILE_READ;
              }))
            return serve::kBusy;
          return code;
        },
        &png);
    if (r != RET_SUCCESS) {
      a.status = r == serve::kBusy ? 503 : 500;
      a.set_content(r == serve::kBusy ? "busy\n" : std::string(describe(r)) + "\n", "text/plain");
      return;
    }
    a.set_header("Cache-Control", "private, max-age=600");
    a.set_content(*png, "image/png");
  }

  std::vector<serve::ServedFile> files_;
  serve::RenderThreads render_;
  serve::TileCache cache_;
  std::unordered_map<std::string, Asset> assets_;
};

struct ServeOptions {
  std::vector<std::string> paths;
  std::string host = "127.0.0.1";
  long port = 8080, threads = std::max(1u, std::thread::hardware_concurrency());
};

// The command line; a non-zero exit status when it is wrong.
int parse_serve(const std::vector<std::string>& args, ServeOptions* o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a == "--port" || a == "--threads") && i + 1 < args.size()) {
      char* end = nullptr;
      const long v = std::strtol(args[++i].c_str(), &end, 10);
      const bool is_port = a == "--port";
      if (*end != '\0' || args[i].empty() || v < (is_port ? 0 : 1) || v > (is_port ? 65535 : 64))
        return usage_error(is_port ? "serve: --port takes 0 to 65535"
                                   : "serve: --threads takes 1 to 64");
      (is_port ? o->port : o->threads) = v;
    } else if (a == "--host" && i + 1 < args.size()) {
      o->host = args[++i];
    } else if (!a.empty() && a[0] != '-') {
      o->paths.push_back(a);
    } else {
      return usage_error(kUsage);
    }
  }
  if (o->paths.empty()) return usage_error(kUsage);
  if (o->paths.size() > 9999) return usage_error("serve: at most 9999 files");
  return kExitOk;
}

// Binds the port (any free one for 0); the port bound, or -1.
int bind_port(httplib::Server& http, const ServeOptions& o) {
  http.set_payload_max_length(4096);
  http.set_keep_alive_max_count(100);
  http.set_read_timeout(5);
  // SO_REUSEADDR alone: httplib's SO_REUSEPORT would let another program bind the same
  // port and take a share of the connections.
  int listening = -1;
  http.set_socket_options([&listening](socket_t sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listening = sock;
  });
  const int bound =
      o.port == 0
          ? http.bind_to_any_port(o.host)
          : (http.bind_to_port(o.host, static_cast<int>(o.port)) ? static_cast<int>(o.port) : -1);
  // httplib listens with a backlog of 5: a burst of connections (a map asks for a screen
  // of tiles at once) overflowed it, and each refused connection waited a second or more
  // for the client to try again. Listening again only enlarges the queue.
  if (bound > 0 && listening >= 0) ::listen(listening, SOMAXCONN);
  return bound > 0 ? bound : -1;
}

// Serves until SIGINT or SIGTERM, which a thread of its own waits for, so that the
// server ends cleanly (and every thread is joined) rather than inside a signal handler.
// The signals must already be blocked in every thread.
bool serve_until_stopped(httplib::Server& http, sigset_t stops) {
  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stops, &signal);
    http.stop();
  });
  const bool served = http.listen_after_bind();
  pthread_kill(stopper.native_handle(), SIGTERM);  // wakes the stopper when listening failed
  stopper.join();
  return served;
}

}  // namespace

int run_serve(const std::vector<std::string>& args) {
  ServeOptions o;
  if (int status = parse_serve(args, &o); status != kExitOk) return status;
  std::vector<serve::ServedFile> files(o.paths.size());
  for (std::size_t i = 0; i < o.paths.size(); ++i)
    if (int r = serve::load_file(o.paths[i], kTile, &files[i]); r != RET_SUCCESS)
      return fail(o.paths[i], r);
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  Server server(std::move(files), static_cast<unsigned>(o.threads));
  std::string missing;
  if (!server.load_assets(&missing)) {
    std::fprintf(stderr, "nitf: serve: cannot read %s (Debian package libjs-leaflet)\n",
                 missing.c_str());
    return kExitFailed;
  }
  httplib::Server http;
  server.routes(http);
  const int bound = bind_port(http, o);
  if (bound < 0) {
    std::fprintf(stderr, "nitf: serve: cannot listen on %s port %ld\n", o.host.c_str(), o.port);
    return kExitFailed;
  }
  const bool ipv6 = o.host.find(':') != std::string::npos;
  std::printf("nitf: serving %zu file%s at http://%s%s%s:%d/\n", o.paths.size(),
              o.paths.size() == 1 ? "" : "s", ipv6 ? "[" : "", o.host.c_str(), ipv6 ? "]" : "",
              bound);
  std::fflush(stdout);
  return serve_until_stopped(http, stops) ? kExitOk : kExitFailed;
}

}  // namespace cli
