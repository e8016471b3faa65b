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

struct FileSpec {
  // Overrides of the file header's leading fields (FHDR to OPHONE) by NITF name;
  // values are padded (text) or zero-filled (numbers) to the field width. FBKGC takes
  // three raw bytes.
  std::map<std::string, std::string> fields;
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

// A data extension subheader (DESSHL 0000) with the given DESID.
std::string des_subheader(const std::string& desid);

bool write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

}  // namespace nitfgen
