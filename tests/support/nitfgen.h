// The test generator: writes NITF 2.1 files byte by byte.
//
// It knows the file layout on its own, independently of the module, so that tests can
// build exactly the file they need (valid, streaming, or broken on purpose) and check
// the module's reading of it. The demo file of the README is made with it too.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace nitfgen {

// One segment: its subheader bytes and its data bytes, written as they are.
struct Segment {
  std::string subheader;
  std::string data;
};

// Overrides of a header's fields by NITF name. Text is padded with blanks and numbers
// are zero-filled on the left to the field width; a value of the full width (an SLOC of
// "-0010-0020") goes in as it is; a longer one is cut.
using FieldValues = std::map<std::string, std::string>;

struct FileSpec {
  // Overrides of the file header's leading fields (FHDR to OPHONE) by NITF name;
  // values are padded (text) or zero-filled (numbers) to the field width. FBKGC takes
  // three raw bytes.
  FieldValues fields;
  std::vector<Segment> images, graphics, texts, des, res;
  // TRE bytes of UDHD and XHD (without the overflow field); absent when not set.
  bool has_udhd = false, has_xhd = false;
  std::string udhd, xhd;
  // Written with all-nines lengths (FL and every LISH/LI, LSSH, LTSH, LDSH/LD) and a
  // STREAMING_FILE_HEADER data extension at the end that holds the real header.
  bool streaming = false;
};

// The complete file.
std::string build(const FileSpec& layout);
// The file header alone, as build() writes it for a file without streaming.
std::string file_header(const FileSpec& layout);
// One TRE: tag (6, padded) + CEL (5 digits) + data.
std::string tre(const std::string& tag, const std::string& data);
// A field: `value` left-justified in `width` spaces, or right-justified in zeros.
std::string text(const std::string& value, std::size_t width);
std::string number(long long value, std::size_t width);
// `value` in its low `bytes` bytes, most significant first.
std::string big_endian(std::uint64_t value, int bytes);

// One field of the generator's own tables: its width, whether it is a number, and the
// value a plain producer writes.
struct Field {
  const char* name;
  std::size_t width;
  bool numeric;
  const char* value;
};
// Every field of `table`, given or plain; a name the table lacks throws.
std::string fields(const std::vector<Field>& table, const FieldValues& values);
// A 5-digit length, and when it is not 0 the 3-digit overflow field and the TRE bytes.
std::string extension_area(bool present, const std::string& bytes);
// A segment count and each segment's subheader and data lengths (nines where hidden).
std::string lengths(const std::vector<Segment>& segments, std::size_t sw, std::size_t dw,
                    bool hide_sub = false, bool hide_data = false);

bool write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

}  // namespace nitfgen
