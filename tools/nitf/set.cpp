// nitf set: change header fields of a file and save the result as a new file.
//
// Each FIELD=VALUE goes through the module the way an application would do it: the
// record is read with its getter, the one member is changed, the record is written back
// with its setter, and the document is saved once every change was taken. A value the
// module refuses stops the command before anything is written.
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"

namespace cli {
namespace {

// How a member is given on the command line and stored in its record.
enum class Kind {
  kText,   // char*, at most `width` characters
  kInt,    // int32_t or uint32_t
  kPair,   // two int32_t members, the second right after the first: "ROW,COLUMN"
  kChars,  // `width` inline characters, given in full
  kColour  // FBKGC: "R,G,B"
};

struct Member {
  const char* name;
  Kind kind;
  std::size_t offset;
  int width;  // texts the file header would silently refuse; inline characters
};

#define KV_TEXT(R, NAME, w) \
  { #NAME, Kind::kText, offsetof(R, NAME), w }
#define KV_INT(R, NAME) \
  { #NAME, Kind::kInt, offsetof(R, NAME), 0 }
#define KV_CHARS(R, NAME, w) \
  { #NAME, Kind::kChars, offsetof(R, NAME), w }

const Member kHeader[] = {
    KV_TEXT(NitfHeader, STYPE, 4),   KV_TEXT(NitfHeader, OSTAID, 10),
    KV_TEXT(NitfHeader, FTITLE, 80), KV_TEXT(NitfHeader, FSCLAS, 1),
    KV_TEXT(NitfHeader, FSCLSY, 2),  KV_TEXT(NitfHeader, FSCODE, 11),
    KV_TEXT(NitfHeader, FSCTLH, 2),  KV_TEXT(NitfHeader, FSREL, 20),
    KV_TEXT(NitfHeader, FSDCTP, 2),  KV_TEXT(NitfHeader, FSDCXM, 4),
    KV_TEXT(NitfHeader, FSDG, 1),    KV_TEXT(NitfHeader, FSCLTX, 43),
    KV_TEXT(NitfHeader, FSCATP, 1),  KV_TEXT(NitfHeader, FSCAUT, 40),
    KV_TEXT(NitfHeader, FSCRSN, 1),  KV_TEXT(NitfHeader, FSCTLN, 15),
    KV_TEXT(NitfHeader, ONAME, 24),  KV_TEXT(NitfHeader, OPHONE, 18),
    KV_INT(NitfHeader, FSCOP),       KV_INT(NitfHeader, FSCPYS),
    KV_INT(NitfHeader, ENCRYP),      KV_CHARS(NitfHeader, FSSRDT, 8),
    KV_CHARS(NitfHeader, FSDGDT, 8), KV_CHARS(NitfHeader, FSDCDT, 8),
    KV_CHARS(NitfHeader, FDT, 14),   {"FBKGC", Kind::kColour, offsetof(NitfHeader, FBKGC), 0},
};

const Member kImage[] = {
    KV_TEXT(NitfImageHeader, IID1, 0),
    KV_TEXT(NitfImageHeader, TGTID, 0),
    KV_TEXT(NitfImageHeader, IID2, 0),
    KV_TEXT(NitfImageHeader, ISCLAS, 0),
    KV_TEXT(NitfImageHeader, ISCLSY, 0),
    KV_TEXT(NitfImageHeader, ISCODE, 0),
    KV_TEXT(NitfImageHeader, ISCTLH, 0),
    KV_TEXT(NitfImageHeader, ISREL, 0),
    KV_TEXT(NitfImageHeader, ISDCTP, 0),
    KV_TEXT(NitfImageHeader, ISDCXM, 0),
    KV_TEXT(NitfImageHeader, ISDG, 0),
    KV_TEXT(NitfImageHeader, ISCLTX, 0),
    KV_TEXT(NitfImageHeader, ISCATP, 0),
    KV_TEXT(NitfImageHeader, ISCAUT, 0),
    KV_TEXT(NitfImageHeader, ISCRSN, 0),
    KV_TEXT(NitfImageHeader, ISCTLN, 0),
    KV_TEXT(NitfImageHeader, ISORCE, 0),
    KV_TEXT(NitfImageHeader, PVTYPE, 0),
    KV_TEXT(NitfImageHeader, IREP, 0),
    KV_TEXT(NitfImageHeader, ICAT, 0),
    KV_TEXT(NitfImageHeader, PJUST, 0),
    KV_TEXT(NitfImageHeader, ICORDS, 0),
    KV_TEXT(NitfImageHeader, IGEOLO, 0),
    KV_TEXT(NitfImageHeader, IC, 0),
    KV_TEXT(NitfImageHeader, COMRAT, 0),
    KV_TEXT(NitfImageHeader, IMODE, 0),
    KV_TEXT(NitfImageHeader, IMAG, 0),
    KV_CHARS(NitfImageHeader, IDATIM, 14),
    KV_CHARS(NitfImageHeader, ISDCDT, 8),
    KV_CHARS(NitfImageHeader, ISDGDT, 8),
    KV_CHARS(NitfImageHeader, ISSRDT, 8),
    KV_INT(NitfImageHeader, ENCRYP),
    KV_INT(NitfImageHeader, NROWS),
    KV_INT(NitfImageHeader, NCOLS),
    KV_INT(NitfImageHeader, ABPP),
    KV_INT(NitfImageHeader, NBPR),
    KV_INT(NitfImageHeader, NBPC),
    KV_INT(NitfImageHeader, NPPBH),
    KV_INT(NitfImageHeader, NPPBV),
    KV_INT(NitfImageHeader, NBPP),
    KV_INT(NitfImageHeader, IDLVL),
    KV_INT(NitfImageHeader, IALVL),
    // ILOC is row then column on the command line; the record has the column first.
    {"ILOC", Kind::kPair, offsetof(NitfImageHeader, ILOC_COLUMN), -1},
};

const Member kGraphic[] = {
    KV_TEXT(NitfGraphicHeader, SID, 0),
    KV_TEXT(NitfGraphicHeader, SNAME, 0),
    KV_TEXT(NitfGraphicHeader, SSCLAS, 0),
    KV_TEXT(NitfGraphicHeader, SSCLSY, 0),
    KV_TEXT(NitfGraphicHeader, SSCODE, 0),
    KV_TEXT(NitfGraphicHeader, SSCTLH, 0),
    KV_TEXT(NitfGraphicHeader, SSREL, 0),
    KV_TEXT(NitfGraphicHeader, SSDCTP, 0),
    KV_TEXT(NitfGraphicHeader, SSDCXM, 0),
    KV_TEXT(NitfGraphicHeader, SSDG, 0),
    KV_TEXT(NitfGraphicHeader, SSCLTX, 0),
    KV_TEXT(NitfGraphicHeader, SSCATP, 0),
    KV_TEXT(NitfGraphicHeader, SSCAUT, 0),
    KV_TEXT(NitfGraphicHeader, SSCRSN, 0),
    KV_TEXT(NitfGraphicHeader, SSCTLN, 0),
    KV_TEXT(NitfGraphicHeader, SCOLOR, 0),
    KV_CHARS(NitfGraphicHeader, SSDCDT, 8),
    KV_CHARS(NitfGraphicHeader, SSDGDT, 8),
    KV_CHARS(NitfGraphicHeader, SSSRDT, 8),
    KV_INT(NitfGraphicHeader, ENCRYP),
    KV_INT(NitfGraphicHeader, SDLVL),
    KV_INT(NitfGraphicHeader, SALVL),
    KV_INT(NitfGraphicHeader, SRES2),
    {"SLOC", Kind::kPair, offsetof(NitfGraphicHeader, SLOC_ROW), 1},
    {"SBND1", Kind::kPair, offsetof(NitfGraphicHeader, SBND1_ROW), 1},
    {"SBND2", Kind::kPair, offsetof(NitfGraphicHeader, SBND2_ROW), 1},
};

const Member kText[] = {
    KV_TEXT(NitfTextHeader, TEXTID, 0),  KV_TEXT(NitfTextHeader, TXTITL, 0),
    KV_TEXT(NitfTextHeader, TSCLAS, 0),  KV_TEXT(NitfTextHeader, TSCLSY, 0),
    KV_TEXT(NitfTextHeader, TSCODE, 0),  KV_TEXT(NitfTextHeader, TSCTLH, 0),
    KV_TEXT(NitfTextHeader, TSREL, 0),   KV_TEXT(NitfTextHeader, TSDCTP, 0),
    KV_TEXT(NitfTextHeader, TSDCXM, 0),  KV_TEXT(NitfTextHeader, TSDG, 0),
    KV_TEXT(NitfTextHeader, TSCLTX, 0),  KV_TEXT(NitfTextHeader, TSCATP, 0),
    KV_TEXT(NitfTextHeader, TSCAUT, 0),  KV_TEXT(NitfTextHeader, TSCRSN, 0),
    KV_TEXT(NitfTextHeader, TSCTLN, 0),  KV_TEXT(NitfTextHeader, TXTFMT, 0),
    KV_CHARS(NitfTextHeader, TXTDT, 14), KV_CHARS(NitfTextHeader, TSDCDT, 8),
    KV_CHARS(NitfTextHeader, TSDGDT, 8), KV_CHARS(NitfTextHeader, TSSRDT, 8),
    KV_INT(NitfTextHeader, ENCRYP),      KV_INT(NitfTextHeader, TXTALVL),
};
#undef KV_TEXT
#undef KV_INT
#undef KV_CHARS

struct Segment {
  const char* prefix;
  const Member* members;
  std::size_t count;
};

const Segment kSegments[] = {{"", kHeader, std::size(kHeader)},
                             {"image", kImage, std::size(kImage)},
                             {"graphic", kGraphic, std::size(kGraphic)},
                             {"text", kText, std::size(kText)}};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool parse_int(const std::string& text, long long* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  *out = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && *out >= -2147483648LL && *out <= 4294967295LL;
}

bool parse_list(const std::string& text, std::size_t n, long long* out) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t comma = i + 1 < n ? text.find(',', at) : text.size();
    if (comma == std::string::npos || !parse_int(text.substr(at, comma - at), &out[i]))
      return false;
    at = comma + 1;
  }
  return true;
}

// One FIELD=VALUE, resolved against the tables.
struct Assignment {
  std::string field, value;
  const Segment* segment = nullptr;
  const Member* member = nullptr;
  int index = 0;
};

bool resolve(const std::string& arg, Assignment* a) {
  const std::size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  a->field = arg.substr(0, eq);
  a->value = arg.substr(eq + 1);
  std::string name = a->field;
  a->segment = &kSegments[0];
  if (std::size_t open = name.find('['); open != std::string::npos) {
    const std::size_t close = name.find("].", open);
    long long index = 0;
    if (close == std::string::npos || !parse_int(name.substr(open + 1, close - open - 1), &index) ||
        index < 0)
      return false;
    a->segment = nullptr;
    for (const Segment& s : kSegments)
      if (name.compare(0, open, s.prefix) == 0 && std::strlen(s.prefix) == open) a->segment = &s;
    if (!a->segment || a->segment == &kSegments[0]) return false;
    a->index = static_cast<int>(index);
    name = name.substr(close + 2);
  }
  for (std::size_t i = 0; i < a->segment->count; ++i)
    if (lower(a->segment->members[i].name) == name) a->member = &a->segment->members[i];
  return a->member != nullptr;
}

// Changes the member in the record; the string's storage lives in `keep`. `*old` gets
// the getter's pointer of a text member, to be put back before the record is freed.
const char* change(void* record, const Assignment& a, std::string* keep, char** old) {
  unsigned char* at = static_cast<unsigned char*>(record) + a.member->offset;
  long long v[3] = {};
  switch (a.member->kind) {
    case Kind::kText: {
      if (a.member->width > 0 && a.value.size() > std::size_t(a.member->width))
        return "longer than its field";
      *keep = a.value;
      char* text = keep->data();
      std::memcpy(old, at, sizeof *old);
      std::memcpy(at, &text, sizeof text);
      return nullptr;
    }
    case Kind::kInt: {
      if (!parse_int(a.value, v)) return "not a number";
      const auto n = static_cast<std::int32_t>(v[0]);
      std::memcpy(at, &n, sizeof n);
      return nullptr;
    }
    case Kind::kPair: {
      if (!parse_list(a.value, 2, v)) return "not ROW,COLUMN";
      const std::int32_t first = static_cast<std::int32_t>(a.member->width < 0 ? v[1] : v[0]);
      const std::int32_t second = static_cast<std::int32_t>(a.member->width < 0 ? v[0] : v[1]);
      std::memcpy(at, &first, sizeof first);
      std::memcpy(at + sizeof first, &second, sizeof second);
      return nullptr;
    }
    case Kind::kChars:
      if (a.value.size() != std::size_t(a.member->width)) return "not of the field's length";
      std::memcpy(at, a.value.data(), a.value.size());
      return nullptr;
    case Kind::kColour:
      if (!parse_list(a.value, 3, v) || v[0] < 0 || v[0] > 255 || v[1] < 0 || v[1] > 255 ||
          v[2] < 0 || v[2] > 255)
        return "not R,G,B from 0 to 255";
      for (int i = 0; i < 3; ++i) at[i] = static_cast<unsigned char>(v[i]);
      return nullptr;
  }
  return "cannot be set";
}

// Get, change, set and free one record; the module's code, or kClientRefused with
// `why` set when the value is not of the member's form.
constexpr int kClientRefused = 1 << 20;

template <class Record>
int apply(NitfDocument* d, const Assignment& a, int (*get)(NitfDocument*, int, Record*),
          int (*set)(NitfDocument*, int, Record*), int (*free)(Record*), const char** why) {
  Record r{};
  if (int x = get(d, a.index, &r); x != RET_SUCCESS) return x;
  std::string keep;
  char* old = nullptr;
  *why = change(&r, a, &keep, &old);
  int result = *why ? kClientRefused : set(d, a.index, &r);
  if (old) std::memcpy(reinterpret_cast<unsigned char*>(&r) + a.member->offset, &old, sizeof old);
  free(&r);
  return result;
}

int get_header(NitfDocument* d, int, NitfHeader* r) {
  return Kv_NITFGetNITFHeader(d, r);
}
int set_header(NitfDocument* d, int, NitfHeader* r) {
  return Kv_NITFSetNITFHeader(d, r);
}
int get_image(NitfDocument* d, int i, NitfImageHeader* r) {
  return Kv_NITFGetImageHeader(d, static_cast<uint32_t>(i), r);
}
int set_image(NitfDocument* d, int i, NitfImageHeader* r) {
  return Kv_NITFSetImageHeader(d, static_cast<uint32_t>(i), r);
}

int apply(NitfDocument* d, const Assignment& a, const char** why) {
  *why = nullptr;
  const std::string prefix = a.segment->prefix;
  if (prefix.empty())
    return apply<NitfHeader>(d, a, get_header, set_header, Kv_NITFFreeNITFHeader, why);
  if (prefix == "image") {
    if (a.index >= Kv_NITFGetImageHeaderCount(d)) return RET_BAD_ARGUMENT;
    return apply<NitfImageHeader>(d, a, get_image, set_image, Kv_NITFFreeImageHeader, why);
  }
  if (prefix == "graphic")
    return apply<NitfGraphicHeader>(d, a, Kv_NITFGetGraphicHeader, Kv_NITFSetGraphicHeader,
                                    Kv_NITFFreeGraphicHeader, why);
  return apply<NitfTextHeader>(d, a, Kv_NITFGetTextHeader, Kv_NITFSetTextHeader,
                               Kv_NITFFreeTextHeader, why);
}

void print_fields() {
  std::puts(
      "usage: nitf set IN OUT FIELD=VALUE ...\n"
      "\n"
      "Changes header fields of IN and saves the result as OUT. Text values are taken as\n"
      "given; dates give every character; locations are ROW,COLUMN; FBKGC is R,G,B.\n"
      "Segments are numbered from 0: image[0].iid1=NAME, graphic[1].sloc=5,12.\n");
  for (const Segment& s : kSegments) {
    std::printf("%s fields:\n ",
                *s.prefix ? (std::string(s.prefix) + "[N].").c_str() : "file header");
    int column = 1;
    for (std::size_t i = 0; i < s.count; ++i) {
      const std::string name = lower(s.members[i].name);
      if (column + name.size() + 1 > 78) {
        std::printf("\n ");
        column = 1;
      }
      std::printf(" %s", name.c_str());
      column += int(name.size()) + 1;
    }
    std::printf("\n");
  }
}

}  // namespace

int run_set(const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    print_fields();
    return kExitOk;
  }
  if (args.size() < 3) return usage_error("set: usage: nitf set IN OUT FIELD=VALUE ...");
  const std::string& in = args[0];
  const std::string& out = args[1];
  std::vector<Assignment> assignments;
  for (std::size_t i = 2; i < args.size(); ++i) {
    Assignment a;
    if (!resolve(args[i], &a))
      return usage_error("set: unknown field in '" + args[i] + "' (see nitf set --help)");
    assignments.push_back(a);
  }
  Document doc;
  if (int r = doc.open(in); r != RET_SUCCESS) return fail(in, r);
  for (const Assignment& a : assignments) {
    const char* why = nullptr;
    const int r = apply(doc.get(), a, &why);
    if (r == kClientRefused) {
      std::fprintf(stderr, "nitf: %s: %s: %s (%d)\n", in.c_str(), a.field.c_str(), why,
                   RET_INVALID_PARAMETER);
      return kExitFailed;
    }
    if (r != RET_SUCCESS) return fail(in + ": " + a.field, r);
  }
  if (int r = Kv_NITFSaveFileA(doc.get(), out.c_str()); r != RET_SUCCESS) return fail(out, r);
  std::printf("%s: %zu field%s set\n", out.c_str(), assignments.size(),
              assignments.size() == 1 ? "" : "s");
  return kExitOk;
}

}  // namespace cli
