// The Python extension kvntfu._core: a thin layer over the module's exports. The pure
// Python package around it (python/kvntfu) gives the typed, documented interface; this
// file only turns return codes into exceptions, records into values, and sample
// buffers into numpy arrays, and lets go of the interpreter's lock while the module
// decodes, composes or writes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <kvhost.h>
#include <kvntfu.h>

#include <strings.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace py = pybind11;

namespace {

// The reason the module gave for the last failure on this thread: its first debug line
// that says something (documents are used one per thread, so a thread's lines are its
// own), else the last message box.
struct Reasons {
  std::string debug, message;
};
thread_local Reasons reasons;

void KV_CALL on_debug(void*, const char* text) {
  if (std::getenv("KVNTF_DEBUG")) std::fputs(text, stderr);
  std::string line(text ? text : "");
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  while (!line.empty() && line.front() == '\n') line.erase(0, 1);
  if (line.empty() || line == "AllocateObjects" || line == "FreeObjects" ||
      line.find("ends the parse with") != std::string::npos || !reasons.debug.empty())
    return;
  const std::size_t code = line.rfind(" (-");
  if (code != std::string::npos && line.back() == ')') line.erase(code);
  reasons.debug = line;
}

void KV_CALL on_message(void*, const char* text, const char*) {
  reasons.message = text ? text : "";
}

// A failed export: its code and why. Turned into the kvntfu.NitfError subclass of the
// code by the translator registered below.
struct Failure {
  int code;
  std::string reason;
};

void clear_reasons() {
  reasons.debug.clear();
  reasons.message.clear();
}

[[noreturn]] void fail(int code, std::string why = {}) {
  if (why.empty()) why = !reasons.debug.empty() ? reasons.debug : reasons.message;
  clear_reasons();
  throw Failure{code, why};
}

void check(int code) {
  if (code != RET_SUCCESS) fail(code);
}

std::string latin1_to_utf8(const char* text, std::size_t n) {
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// Header values are single-byte text in the file; Python gives code points.
std::string to_latin1(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if (c > 0xFF) fail(RET_INVALID_PARAMETER, "a character outside Latin-1");
    out.push_back(static_cast<char>(c));
  }
  return out;
}

std::span<const NitfFieldInfo> table(int kind) {
  const NitfFieldInfo* fields = nullptr;
  int32_t count = 0;
  if (Kv_NITFGetFieldTable(kind, &fields, &count) != RET_SUCCESS) return {};
  return {fields, static_cast<std::size_t>(count)};
}

const NitfFieldInfo* find_field(int kind, const std::string& name) {
  for (const NitfFieldInfo& f : table(kind))
    if (strcasecmp(f.name, name.c_str()) == 0) return &f;
  return nullptr;
}

bool parse_ints(const std::string& text, std::size_t n, long long* out) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t end = i + 1 < n ? text.find(',', at) : text.size();
    if (end == std::string::npos || end == at) return false;
    const std::string piece = text.substr(at, end - at);
    char* stop = nullptr;
    errno = 0;
    out[i] = std::strtoll(piece.c_str(), &stop, 10);
    if (errno || *stop || out[i] < -2147483648LL || out[i] > 4294967295LL) return false;
    at = end + 1;
  }
  return true;
}

void put_int(unsigned char* at, long long value) {
  const auto n = static_cast<int32_t>(value);
  std::memcpy(at, &n, sizeof n);
}

// Writes `value` into the record member of `f`; `keep` holds a new text's characters
// and `old` receives the getter's pointer, to be put back before the record is freed.
void change(void* record, const NitfFieldInfo& f, const std::string& value, std::string* keep,
            char** old) {
  auto* at = static_cast<unsigned char*>(record) + f.offset;
  long long v[3] = {};
  switch (f.form) {
    case KV_FORM_STRING: {
      // The file header's setter keeps the old text silently when the new one is too
      // long; every setter is held to the same answer here.
      if (value.size() > static_cast<std::size_t>(f.width))
        fail(RET_INVALID_PARAMETER, std::string(f.name) + " is longer than its field");
      *keep = value;
      char* text = keep->data();
      std::memcpy(old, at, sizeof *old);
      std::memcpy(at, &text, sizeof text);
      return;
    }
    case KV_FORM_NUMBER:
    case KV_FORM_UNSIGNED:
      if (!parse_ints(value, 1, v))
        fail(RET_INVALID_PARAMETER, std::string(f.name) + " takes a number");
      put_int(at, v[0]);
      return;
    case KV_FORM_LOCATION:
      if (!parse_ints(value, 2, v))
        fail(RET_INVALID_PARAMETER, std::string(f.name) + " takes ROW,COLUMN");
      put_int(at, v[0]);
      put_int(static_cast<unsigned char*>(record) + f.second_offset, v[1]);
      return;
    case KV_FORM_CHARS:
      if (value.size() != static_cast<std::size_t>(f.width))
        fail(RET_INVALID_PARAMETER,
             std::string(f.name) + " takes exactly " + std::to_string(f.width) + " characters");
      std::memcpy(at, value.data(), value.size());
      return;
    case KV_FORM_COLOUR:
      if (!parse_ints(value, 3, v) || v[0] < 0 || v[0] > 255 || v[1] < 0 || v[1] > 255 ||
          v[2] < 0 || v[2] > 255)
        fail(RET_INVALID_PARAMETER, std::string(f.name) + " takes R,G,B from 0 to 255");
      for (int i = 0; i < 3; ++i) at[i] = static_cast<unsigned char>(v[i]);
      return;
    case KV_FORM_VERSION: {
      char* stop = nullptr;
      const float version = std::strtof(value.c_str(), &stop);
      if (value.empty() || *stop || !(version >= 0 && version < 100))
        fail(RET_INVALID_PARAMETER, std::string(f.name) + " takes a version such as 02.10");
      std::memcpy(at, &version, sizeof version);
      return;
    }
  }
  fail(RET_INVALID_PARAMETER, std::string(f.name) + " cannot be set");
}

template <class Record, class Get, class Set, class Free>
void apply(NitfDocument* d, int index, const NitfFieldInfo& f, const std::string& value, Get get,
           Set set, Free free) {
  Record r{};
  check(get(d, index, &r));
  std::string keep;
  char* old = nullptr;
  int code = RET_SUCCESS;
  try {
    change(&r, f, value, &keep, &old);
    code = set(d, index, &r);
  } catch (...) {
    if (old) std::memcpy(reinterpret_cast<unsigned char*>(&r) + f.offset, &old, sizeof old);
    free(&r);
    throw;
  }
  if (old) std::memcpy(reinterpret_cast<unsigned char*>(&r) + f.offset, &old, sizeof old);
  free(&r);
  check(code);
}

struct Bitmap {
  KvBitmap b{};
  Bitmap() = default;
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;
  ~Bitmap() { KvHost_FreeBitmap(&b); }
};

struct Drawing {
  void* handle = nullptr;
  ~Drawing() {
    if (handle) KvHost_FreeDrawing(handle);
  }
};

// A composed 24-bit bitmap (blue, green, red) as rows x columns x 3 red, green, blue.
py::array_t<uint8_t> rgb_of(const KvBitmap& b) {
  const py::ssize_t h = b.height, w = b.width;
  py::array_t<uint8_t> out({h, w, py::ssize_t(3)});
  uint8_t* to = out.mutable_data();
  {
    py::gil_scoped_release unlocked;
    for (py::ssize_t y = 0; y < h; ++y) {
      const py::ssize_t stored = b.view_code == 4 ? h - 1 - y : y;
      const uint8_t* row = b.data + static_cast<std::size_t>(stored) * b.bytes_per_line;
      uint8_t* line = to + y * w * 3;
      for (py::ssize_t x = 0; x < w; ++x) {
        line[3 * x] = row[3 * x + 2];
        line[3 * x + 1] = row[3 * x + 1];
        line[3 * x + 2] = row[3 * x];
      }
    }
  }
  return out;
}

py::dtype dtype_of(const KvImageInfo& info) {
  const char* name = "u1";
  switch (info.sample_kind) {
    case KV_SAMPLE_UNSIGNED:
      name = info.sample_bytes == 1   ? "u1"
             : info.sample_bytes == 2 ? "u2"
             : info.sample_bytes == 4 ? "u4"
                                      : "u8";
      break;
    case KV_SAMPLE_SIGNED:
      name = info.sample_bytes == 1   ? "i1"
             : info.sample_bytes == 2 ? "i2"
             : info.sample_bytes == 4 ? "i4"
                                      : "i8";
      break;
    case KV_SAMPLE_FLOAT:
      name = info.sample_bytes == 4 ? "f4" : "f8";
      break;
    case KV_SAMPLE_COMPLEX:
      name = "c8";
      break;
  }
  return py::dtype(std::string("=") + name);
}

// One document. Every call holds the document's lock, so a document shared between
// threads is used by one of them at a time, as the module requires; different
// documents decode in parallel with the interpreter's lock released.
class Document {
 public:
  Document(const std::optional<std::string>& path, bool extended) {
    NitfDocument* d = nullptr;
    int code;
    {
      py::gil_scoped_release unlocked;
      clear_reasons();
      code = Kv_NITFCreateExA(&d, path ? path->c_str() : nullptr, extended ? KV_NITF_EXTENDED : 0u);
      if (code != RET_SUCCESS && d) Kv_NITFDestroy(&d);
    }
    if (code != RET_SUCCESS) fail(code);
    doc_ = d;
  }
  ~Document() { close(); }

  void close() {
    std::lock_guard lock(mutex_);
    if (doc_) Kv_NITFDestroy(&doc_);
    doc_ = nullptr;
  }
  bool closed() const { return doc_ == nullptr; }

  int count(int kind) {
    Locked l(this);
    return Kv_NITFGetSegmentCount(doc_, kind);
  }

  // Every field of a header the document holds characters for, in file order.
  std::vector<std::pair<std::string, std::string>> fields(int kind, int index) {
    Locked l(this);
    std::vector<std::pair<std::string, std::string>> out;
    std::vector<char> buffer(100000);
    for (const NitfFieldInfo& f : table(table_kind(kind))) {
      if (Kv_NITFGetFieldText(doc_, kind, index, f.name, buffer.data(),
                              static_cast<int32_t>(buffer.size())) != RET_SUCCESS)
        continue;
      out.emplace_back(f.name, latin1_to_utf8(buffer.data(), std::strlen(buffer.data())));
    }
    clear_reasons();
    return out;
  }

  void set_field(int kind, int index, const std::string& name, const std::u32string& value) {
    Locked l(this);
    const NitfFieldInfo* f = find_field(table_kind(kind), name);
    if (!f) fail(RET_INVALID_PARAMETER, "no field " + name);
    if (!(f->flags & KV_FIELD_SETTABLE) || f->offset < 0)
      fail(RET_INVALID_PARAMETER, name + " cannot be set");
    if (f->flags & KV_FIELD_LAYOUT)
      fail(RET_INVALID_PARAMETER,
           name + " describes the stored data, which a change would not convert");
    const std::string text = to_latin1(value);
    clear_reasons();
    switch (kind) {
      case KV_FIELDS_FILE:
        apply<NitfHeader>(
            doc_, index, *f, text,
            [](NitfDocument* d, int, NitfHeader* r) { return Kv_NITFGetNITFHeader(d, r); },
            [](NitfDocument* d, int, NitfHeader* r) { return Kv_NITFSetNITFHeader(d, r); },
            Kv_NITFFreeNITFHeader);
        return;
      case KV_FIELDS_IMAGE:
        if (index < 0 || index >= Kv_NITFGetImageHeaderCount(doc_)) fail(RET_BAD_ARGUMENT);
        apply<NitfImageHeader>(
            doc_, index, *f, text,
            [](NitfDocument* d, int i, NitfImageHeader* r) {
              return Kv_NITFGetImageHeader(d, uint32_t(i), r);
            },
            [](NitfDocument* d, int i, NitfImageHeader* r) {
              return Kv_NITFSetImageHeader(d, uint32_t(i), r);
            },
            Kv_NITFFreeImageHeader);
        return;
      case KV_FIELDS_GRAPHIC:
        apply<NitfGraphicHeader>(doc_, index, *f, text, Kv_NITFGetGraphicHeader,
                                 Kv_NITFSetGraphicHeader, Kv_NITFFreeGraphicHeader);
        return;
      case KV_FIELDS_TEXT:
        apply<NitfTextHeader>(doc_, index, *f, text, Kv_NITFGetTextHeader, Kv_NITFSetTextHeader,
                              Kv_NITFFreeTextHeader);
        return;
    }
    fail(RET_INVALID_PARAMETER, "the fields of this segment cannot be set");
  }

  // The segment lengths of the file header, for finding a segment's data in the file.
  py::dict lengths() {
    Locked l(this);
    NitfHeader h{};
    check(Kv_NITFGetNITFHeader(doc_, &h));
    auto list = [](const uint32_t* v, int n) {
      std::vector<uint32_t> out;
      for (int i = 0; v && i < n; ++i) out.push_back(v[i]);
      return out;
    };
    py::dict out;
    out["HL"] = h.HL;
    out["LISH"] = list(h.LISH, h.NUMI);
    out["LI"] = list(h.LI, h.NUMI);
    out["LSSH"] = list(h.LSSH, h.NUMS);
    out["LS"] = list(h.LS, h.NUMS);
    Kv_NITFFreeNITFHeader(&h);
    return out;
  }

  std::vector<std::string> tres(int kind, int index) {
    Locked l(this);
    int32_t count = 0;
    check(Kv_NITFGetTreCount(doc_, kind, index, &count));
    std::vector<std::string> out;
    for (int32_t t = 0; t < count; ++t) {
      NitfTreInfo info{};
      check(Kv_NITFGetTreInfo(doc_, kind, index, t, &info));
      char* json = nullptr;
      check(Kv_NITFGetTreJson(doc_, kind, index, t, &json));
      std::string text(json);
      Kv_NITFFreeTreJson(&json);
      static const char* const areas[] = {"user", "extended", "overflow"};
      text.pop_back();  // the object's closing brace: the area joins it
      text += std::string(",\"area\":\"") + areas[info.area >= 0 && info.area < 3 ? info.area : 0] +
              "\"";
      if (info.area == KV_TRE_OVERFLOW) text += ",\"des\":" + std::to_string(info.segment);
      out.push_back(text + "}");
    }
    return out;
  }

  std::string des(int index) {
    Locked l(this);
    char* json = nullptr;
    check(Kv_NITFGetDesJson(doc_, index, &json));
    std::string text(json);
    Kv_NITFFreeTreJson(&json);
    return text;
  }

  std::optional<std::tuple<std::vector<double>, std::vector<double>, int>> corners(int index) {
    Locked l(this);
    NitfImageCorners c{};
    const int code = Kv_NITFGetImageCorners(doc_, uint32_t(index), &c);
    if (code == RET_MISSING_DATA) {
      clear_reasons();
      return std::nullopt;
    }
    check(code);
    return std::make_tuple(std::vector<double>(c.LATITUDE, c.LATITUDE + 4),
                           std::vector<double>(c.LONGITUDE, c.LONGITUDE + 4), int(c.SOURCE));
  }

  // Whether image `index` carries an RPC model the projection can use.
  bool has_rpc(int index) {
    Locked l(this);
    const bool found = Kv_NITFHasRpc(doc_, uint32_t(index)) == RET_SUCCESS;
    clear_reasons();
    return found;
  }

  std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, py::dtype> image_info(int index) {
    Locked l(this);
    KvImageInfo info{};
    check(Kv_NITFGetImageInfo(doc_, uint32_t(index), &info));
    return {info.rows, info.columns, info.bands, info.bits_per_sample, dtype_of(info)};
  }

  py::array read(int index, uint32_t row, uint32_t column, uint32_t rows, uint32_t columns,
                 uint32_t reduction, const std::vector<uint32_t>& bands) {
    Locked l(this);
    KvImageInfo info{};
    check(Kv_NITFGetImageInfo(doc_, uint32_t(index), &info));
    KvSampleRequest request{row,
                            column,
                            rows,
                            columns,
                            reduction,
                            bands.data(),
                            uint32_t(bands.size()),
                            KV_SAMPLES_BY_BAND};
    // The shape follows the request; the module checks it before writing anything.
    const auto per = [reduction](uint32_t n) {
      return reduction ? py::ssize_t((uint64_t(n) + reduction - 1) / reduction) : py::ssize_t(0);
    };
    const py::ssize_t out_rows = per(rows), out_cols = per(columns);
    if (bands.empty() || out_rows == 0 || out_cols == 0)
      fail(RET_INVALID_PARAMETER, "an empty window, no bands or a reduction of 0");
    py::array out(dtype_of(info), {py::ssize_t(bands.size()), out_rows, out_cols});
    void* buffer = out.mutable_data();
    const std::size_t size = std::size_t(out.nbytes());
    const std::size_t stride = std::size_t(out_cols) * info.sample_bytes;
    int code;
    {
      py::gil_scoped_release unlocked;
      clear_reasons();
      code = Kv_NITFReadSamples(doc_, uint32_t(index), &request, buffer, size, stride);
    }
    check(code);
    return out;
  }

  std::pair<uint32_t, uint32_t> canvas() {
    Locked l(this);
    uint32_t w = 0, h = 0;
    check(GetActual_Width_Height(doc_, &w, &h));
    return {w, h};
  }

  py::array_t<uint8_t> render(int32_t left, int32_t top, int32_t width, int32_t height,
                              int32_t out_width, int32_t out_height) {
    Locked l(this);
    int32_t region[4] = {left, top, width, height};
    Bitmap b;
    int code;
    {
      py::gil_scoped_release unlocked;
      clear_reasons();
      code = Kv_NtfRenderRegion(&b.b, doc_, region, out_width, out_height);
    }
    check(code);
    return rgb_of(b.b);
  }

  py::bytes text(int index) {
    Locked l(this);
    uint32_t length = 0;
    check(Kv_NITFGetTextSegment(doc_, index, nullptr, &length));
    std::string buffer(std::size_t(length) + 1, '\0');
    check(Kv_NITFGetTextSegment(doc_, index, buffer.data(), &length));
    buffer.resize(length);
    return py::bytes(buffer);
  }

  void append_image(py::array_t<uint8_t, py::array::c_style | py::array::forcecast> samples,
                    int quality, bool rgb) {
    Locked l(this);
    if (samples.ndim() != 3 || (samples.shape(0) != 1 && samples.shape(0) != 3))
      fail(RET_INVALID_PARAMETER, "an image to append is (1 or 3 bands, rows, columns) of bytes");
    const py::ssize_t bands = samples.shape(0), h = samples.shape(1), w = samples.shape(2);
    if (h < 1 || w < 1 || h > 99999999 || w > 99999999)
      fail(RET_INVALID_PARAMETER, "an empty image");
    Bitmap b;
    check(KvHost_CreateBitmap(&b.b, int32_t(w), int32_t(h), bands == 1 ? 8 : 24));
    const uint8_t* in = samples.data();
    const std::size_t plane = std::size_t(w) * std::size_t(h);
    int code;
    {
      py::gil_scoped_release unlocked;
      for (py::ssize_t y = 0; y < h; ++y) {
        uint8_t* row = b.b.data + std::size_t(y) * b.b.bytes_per_line;
        const std::size_t at = std::size_t(y) * std::size_t(w);
        for (py::ssize_t x = 0; x < w; ++x) {
          if (bands == 1) {
            row[x] = in[at + x];
          } else {  // bitmaps keep blue, green, red
            row[3 * x] = in[2 * plane + at + x];
            row[3 * x + 1] = in[plane + at + x];
            row[3 * x + 2] = in[at + x];
          }
        }
      }
      clear_reasons();
      code = Kv_NITFAppendImageSegment(doc_, &b.b, rgb ? 182 : 10, bands == 1 ? 8 : 24, quality);
    }
    check(code);
  }

  void append_text(const std::string& path) {
    Locked l(this);
    clear_reasons();
    check(Kv_NITFAppendTextSegmentA(doc_, path.c_str()));
  }

  void append_graphic(const py::bytes& cgm) {
    Locked l(this);
    const std::string bytes = cgm;
    Drawing drawing;
    int32_t rectangle[4] = {};
    clear_reasons();
    check(KvHost_LoadCgm(bytes.data(), uint32_t(bytes.size()), &drawing.handle, rectangle));
    check(Kv_NITFAppendGraphicSegment(doc_, drawing.handle, rectangle));
  }

  void save(const std::string& path) {
    Locked l(this);
    int code;
    {
      py::gil_scoped_release unlocked;
      clear_reasons();
      code = Kv_NITFSaveFileA(doc_, path.c_str());
    }
    check(code);
  }

  std::string version() {
    Locked l(this);
    std::vector<char> buffer(16);
    if (Kv_NITFGetFieldText(doc_, KV_FIELDS_FILE, 0, "FVER", buffer.data(), 16) != RET_SUCCESS)
      return "";
    return buffer.data();
  }

 private:
  struct Locked {
    explicit Locked(Document* d) : lock(d->mutex_) {
      if (!d->doc_) fail(RET_INVALID_DOCUMENT, "the document is closed");
    }
    std::lock_guard<std::mutex> lock;
  };

  // The table the document's own layout follows: NITF 2.0 files have theirs.
  int table_kind(int kind) {
    std::vector<char> buffer(16);
    if (Kv_NITFGetFieldText(doc_, KV_FIELDS_FILE, 0, "FVER", buffer.data(), 16) == RET_SUCCESS &&
        std::strncmp(buffer.data(), "02.00", 5) == 0)
      return kind | KV_FIELDS_NITF20;
    return kind;
  }

  NitfDocument* doc_ = nullptr;
  std::mutex mutex_;
};

// A CGM drawn alone: the composition of a document holding only that graphic.
py::array_t<uint8_t> render_cgm(const py::bytes& cgm) {
  const std::string bytes = cgm;
  NitfDocument* d = nullptr;
  Bitmap b;
  int code;
  {
    py::gil_scoped_release unlocked;
    clear_reasons();
    Drawing drawing;
    int32_t rectangle[4] = {};
    code = Kv_NITFCreateExA(&d, nullptr, 0);
    if (code == RET_SUCCESS)
      code = KvHost_LoadCgm(bytes.data(), uint32_t(bytes.size()), &drawing.handle, rectangle);
    if (code == RET_SUCCESS) code = Kv_NITFAppendGraphicSegment(d, drawing.handle, rectangle);
    if (code == RET_SUCCESS) code = Kv_NtfRenderBitmap(&b.b, d);
    if (d) Kv_NITFDestroy(&d);
  }
  check(code);
  return rgb_of(b.b);
}

std::vector<std::tuple<std::string, int, int, int>> field_table(int kind) {
  std::vector<std::tuple<std::string, int, int, int>> out;
  for (const NitfFieldInfo& f : table(kind))
    out.emplace_back(f.name, f.width, f.form, int(f.flags));
  return out;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The module's exports as the kvntfu package uses them; see kvntfu.";
  KvHost_SetDebugSink(on_debug, nullptr);
  KvHost_SetMessageSink(on_message, nullptr);

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Failure& f) {
      py::object error = py::module_::import("kvntfu._errors").attr("error_for")(f.code, f.reason);
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    }
  });

  py::class_<Document>(m, "Document")
      .def(py::init<const std::optional<std::string>&, bool>(), py::arg("path"),
           py::arg("extended"))
      .def("close", &Document::close)
      .def_property_readonly("closed", &Document::closed)
      .def("count", &Document::count)
      .def("fields", &Document::fields)
      .def("set_field", &Document::set_field)
      .def("lengths", &Document::lengths)
      .def("tres", &Document::tres)
      .def("des", &Document::des)
      .def("corners", &Document::corners)
      .def("has_rpc", &Document::has_rpc)
      .def("image_info", &Document::image_info)
      .def("read", &Document::read)
      .def("canvas", &Document::canvas)
      .def("render", &Document::render)
      .def("text", &Document::text)
      .def("append_image", &Document::append_image)
      .def("append_text", &Document::append_text)
      .def("append_graphic", &Document::append_graphic)
      .def("save", &Document::save)
      .def("version", &Document::version);
  m.def("render_cgm", &render_cgm);
  m.def("field_table", &field_table);
  m.attr("FIELDS_FILE") = KV_FIELDS_FILE;
  m.attr("FIELDS_IMAGE") = KV_FIELDS_IMAGE;
  m.attr("FIELDS_GRAPHIC") = KV_FIELDS_GRAPHIC;
  m.attr("FIELDS_TEXT") = KV_FIELDS_TEXT;
  m.attr("FIELDS_DES") = KV_FIELDS_DES;
}
