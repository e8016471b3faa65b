// Reading fixed-width fields from a document's source file.
//
// Every reader of a header or subheader goes through a FieldReader: it reads each field
// as exactly its width, never past the end of the file, and in a bounded re-read never
// past the budget of replacement bytes. Lengths claimed by the file are checked here
// against what the file still holds before anyone allocates for them. Failures are
// described on the debug sink with the field, its offset and the bytes that were there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nitf {

// The module's decimal conversion of a fixed field: leading spaces skipped, an
// optional sign, the digits up to the first other character; no digits give 0;
// the magnitude saturates at 2147483647.
std::int32_t parse_decimal(std::string_view field);
// The same without saturation, for the 9-, 10- and 12-digit length fields.
std::int64_t parse_decimal64(std::string_view field);

// A field's text up to its NUL, as a view.
inline std::string_view field_text(const char* field) {
  return std::string_view(field);
}
// True when the field holds exactly `width` copies of '9', the marker of a length
// written before it was known.
bool is_all_nines(const char* field, std::size_t width);

// Result of one read: RET_SUCCESS, RET_FILE_READ, or kBudgetSpent when a bounded
// re-read has used up its replacement bytes (the read then ends successfully).
inline constexpr int kBudgetSpent = 2;

// Normal reads, or the bounded re-read from a streaming file header's replacement data.
enum class ReadMode { kNormal, kBounded };

// The end of a window of `length` bytes from `start`, cut at the end of the file. A
// subheader is read through a window that ends at its length in the file header, so
// it never reads into the data after it, whatever its own fields claim.
std::int64_t end_within(std::int64_t file_size, std::int64_t start, std::uint64_t length);

class FieldReader {
 public:
  // `context` names what is read ("file header", "image subheader 2") in messages.
  // A negative budget means unbounded.
  FieldReader(int handle, std::int64_t file_size, const char* context, std::int64_t budget = -1);

  // Reads `width` bytes into dst (which has room for width + 1) and NUL-terminates.
  int text(char* dst, std::size_t width, const char* name);
  // Reads n raw bytes.
  int bytes(void* dst, std::size_t n, const char* name);
  // Bytes between the current position and the end of the file.
  std::int64_t remaining() const;
  // True when n more bytes fit both in the file and in the budget; otherwise reports
  // the shortfall for `name` on the debug sink.
  bool fits(std::uint64_t n, const char* name) const;
  // Reports a field whose value fails its check; returns `code`.
  int refuse(const char* name, const char* why, int code) const;

  std::int64_t position() const { return position_; }
  std::int64_t taken() const { return taken_; }
  bool bounded() const { return budget_ >= 0; }
  int handle() const { return handle_; }

 private:
  int take(void* dst, std::size_t n, const char* name);

  int handle_;
  std::int64_t file_size_;
  std::int64_t position_;
  const char* context_;
  std::int64_t budget_;
  std::int64_t taken_ = 0;
};

}  // namespace nitf
