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
#include "fields.h"

namespace cli {
namespace {

// The header kinds `nitf set` reaches, by the prefix of their fields on the command line.
struct Segment {
  const char* prefix;
  int kind;  // KV_FIELDS_*
};

const Segment kSegments[] = {{"", KV_FIELDS_FILE},
                             {"image", KV_FIELDS_IMAGE},
                             {"graphic", KV_FIELDS_GRAPHIC},
                             {"text", KV_FIELDS_TEXT}};

// The forms a command-line value can be written into.
bool settable(const NitfFieldInfo& f) {
  switch (f.form) {
    case KV_FORM_STRING:
    case KV_FORM_CHARS:
    case KV_FORM_NUMBER:
    case KV_FORM_UNSIGNED:
    case KV_FORM_LOCATION:
    case KV_FORM_COLOUR:
    case KV_FORM_VERSION:
      return (f.flags & KV_FIELD_SETTABLE) != 0;
    default:
      return false;
  }
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
  const NitfFieldInfo* member = nullptr;
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
  a->member = find_field(a->segment->kind, name);
  return a->member != nullptr && settable(*a->member);
}

void put_int(unsigned char* at, long long value) {
  const auto n = static_cast<std::int32_t>(value);
  std::memcpy(at, &n, sizeof n);
}

// Changes the member in the record; the string's storage lives in `keep`. `*old` gets
// the getter's pointer of a text member, to be put back before the record is freed.
// A text longer than its field is refused here, since the file header's setter would
// silently keep the old one.
const char* change(void* record, const Assignment& a, std::string* keep, char** old) {
  const NitfFieldInfo& f = *a.member;
  // The library takes these, but the data stay as stored: a new value would describe
  // data the file does not hold, and no reader could open the result.
  if (f.flags & KV_FIELD_LAYOUT)
    return "describes the stored data, which a change would not convert";
  unsigned char* at = static_cast<unsigned char*>(record) + f.offset;
  long long v[3] = {};
  switch (f.form) {
    case KV_FORM_STRING: {
      if (a.value.size() > std::size_t(f.width)) return "longer than its field";
      *keep = a.value;
      char* text = keep->data();
      std::memcpy(old, at, sizeof *old);
      std::memcpy(at, &text, sizeof text);
      return nullptr;
    }
    case KV_FORM_NUMBER:
    case KV_FORM_UNSIGNED:
      if (!parse_int(a.value, v)) return "not a number";
      put_int(at, v[0]);
      return nullptr;
    case KV_FORM_LOCATION:
      if (!parse_list(a.value, 2, v)) return "not ROW,COLUMN";
      put_int(at, v[0]);
      put_int(static_cast<unsigned char*>(record) + f.second_offset, v[1]);
      return nullptr;
    case KV_FORM_CHARS:
      if (a.value.size() != std::size_t(f.width)) return "not of the field's length";
      std::memcpy(at, a.value.data(), a.value.size());
      return nullptr;
    case KV_FORM_COLOUR:
      if (!parse_list(a.value, 3, v) || v[0] < 0 || v[0] > 255 || v[1] < 0 || v[1] > 255 ||
          v[2] < 0 || v[2] > 255)
        return "not R,G,B from 0 to 255";
      for (int i = 0; i < 3; ++i) at[i] = static_cast<unsigned char>(v[i]);
      return nullptr;
    case KV_FORM_VERSION: {
      char* end = nullptr;
      const float version = std::strtof(a.value.c_str(), &end);
      if (a.value.empty() || *end != '\0' || !(version >= 0 && version < 100))
        return "not a version such as 02.10";
      std::memcpy(at, &version, sizeof version);
      return nullptr;
    }
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
  switch (a.segment->kind) {
    case KV_FIELDS_FILE:
      return apply<NitfHeader>(d, a, get_header, set_header, Kv_NITFFreeNITFHeader, why);
    case KV_FIELDS_IMAGE:
      if (a.index >= Kv_NITFGetImageHeaderCount(d)) return RET_BAD_ARGUMENT;
      return apply<NitfImageHeader>(d, a, get_image, set_image, Kv_NITFFreeImageHeader, why);
    case KV_FIELDS_GRAPHIC:
      return apply<NitfGraphicHeader>(d, a, Kv_NITFGetGraphicHeader, Kv_NITFSetGraphicHeader,
                                      Kv_NITFFreeGraphicHeader, why);
    default:
      return apply<NitfTextHeader>(d, a, Kv_NITFGetTextHeader, Kv_NITFSetTextHeader,
                                   Kv_NITFFreeTextHeader, why);
  }
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
    for (const NitfFieldInfo& f : fields_of(s.kind)) {
      if (!settable(f) || (f.flags & KV_FIELD_LAYOUT)) continue;
      const std::string name = lower_name(f);
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
