// A small JSON writer for the client's --json output: objects, arrays, strings and
// numbers, with commas placed by the writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace cli {

class JsonWriter {
 public:
  explicit JsonWriter(std::FILE* out) : out_(out) {}

  void begin_object(const char* key = nullptr) { open(key, '{'); }
  void end_object() { close('}'); }
  void begin_array(const char* key = nullptr) { open(key, '['); }
  void end_array() { close(']'); }

  void string(const char* key, const std::string& value) {
    separate(key);
    quoted(value);
  }
  void number(const char* key, long long value) {
    separate(key);
    std::fprintf(out_, "%lld", value);
  }
  // Shortest text that reads back as the same double (null when not finite).
  void real(const char* key, double value) {
    separate(key);
    if (value != value || value - value != 0) {
      std::fputs("null", out_);
      return;
    }
    char text[32];
    for (int precision = 15; precision <= 17; ++precision) {
      std::snprintf(text, sizeof text, "%.*g", precision, value);
      if (std::strtod(text, nullptr) == value) break;
    }
    std::fputs(text, out_);
  }
  void null(const char* key) {
    separate(key);
    std::fputs("null", out_);
  }
  void numbers(const char* key, const std::vector<long long>& values) {
    begin_array(key);
    for (long long v : values) number(nullptr, v);
    end_array();
  }
  void strings(const char* key, const std::vector<std::string>& values) {
    begin_array(key);
    for (const std::string& v : values) string(nullptr, v);
    end_array();
  }
  void finish() { std::fputc('\n', out_); }

 private:
  void open(const char* key, char bracket) {
    separate(key);
    std::fputc(bracket, out_);
    first_.push_back(true);
  }
  void close(char bracket) {
    first_.pop_back();
    std::fputc(bracket, out_);
  }
  void separate(const char* key) {
    if (!first_.empty()) {
      if (!first_.back()) std::fputc(',', out_);
      first_.back() = false;
    }
    if (key) {
      quoted(key);
      std::fputc(':', out_);
    }
  }
  void quoted(const std::string& s) {
    std::fputc('"', out_);
    for (unsigned char c : s) {
      if (c == '"' || c == '\\') {
        std::fputc('\\', out_);
        std::fputc(c, out_);
      } else if (c < 0x20 || c >= 0x7F) {
        // Header text is BCS/ECS; anything else is shown as its byte value.
        std::fprintf(out_, "\\u%04x", c);
      } else {
        std::fputc(c, out_);
      }
    }
    std::fputc('"', out_);
  }

  std::FILE* out_;
  std::vector<bool> first_;
};

}  // namespace cli
