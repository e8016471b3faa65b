// nitf create and nitf append: a NITF file built from pictures, drawings and texts.
//
// Segments are added through the module's appending exports in the order given: a
// picture (PNG, PPM/PGM or JPEG) becomes a bitmap and a JPEG-compressed image, a CGM
// file is loaded through the host into a drawing and appended as a graphic, a text file
// goes in whole. The document is saved once everything was taken; a refused segment
// stops the command before anything is written.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <kvhost.h>

#include "cli.h"

namespace cli {
namespace {

// Quality on the scale every JPEG tool uses, 1 to 100.
constexpr int kDefaultQuality = 75;

struct SegmentRequest {
  enum Kind { kImage, kGraphic, kText } kind;
  std::string path;
  bool rgb = false;
  int quality = kDefaultQuality;
  bool placed = false;  // --iloc given
  int row = 0, column = 0;
  int level = -1;  // --level, or the appending's own
};

struct Request {
  std::string title, fdt;
  bool has_title = false, has_fdt = false;
  std::vector<SegmentRequest> segments;
};

bool read_all(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A bitmap record released when the holder goes.
struct OwnedBitmap {
  KvBitmap b{};
  ~OwnedBitmap() { KvHost_FreeBitmap(&b); }
};

// 8-bit grey or 24-bit pixels from grey or R, G, B samples, top row first.
int bitmap_from_samples(const std::uint8_t* samples, int width, int height, int channels,
                        OwnedBitmap* out) {
  if (int r = KvHost_CreateBitmap(&out->b, width, height, channels == 1 ? 8 : 24); r != RET_SUCCESS)
    return r;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = out->b.data + static_cast<std::size_t>(y) * out->b.bytes_per_line;
    const std::uint8_t* in = samples + static_cast<std::size_t>(y) * width * channels;
    for (int x = 0; x < width; ++x) {
      if (channels == 1) {
        row[x] = in[x];
      } else {
        row[3 * x] = in[3 * x + 2];  // bitmaps keep blue, green, red
        row[3 * x + 1] = in[3 * x + 1];
        row[3 * x + 2] = in[3 * x];
      }
    }
  }
  return RET_SUCCESS;
}

struct PngSource {
  const std::string* bytes;
  std::size_t at;
};

void read_png_bytes(png_structp png, png_bytep out, png_size_t n) {
  auto* s = static_cast<PngSource*>(png_get_io_ptr(png));
  if (n > s->bytes->size() - s->at) png_error(png, "the PNG file is cut short");
  std::memcpy(out, s->bytes->data() + s->at, n);
  s->at += n;
}

// The samples as stored, without colour conversion: palettes expanded, 16-bit samples
// by their top 8 bits, alpha dropped.
void plain_samples(png_structp png, png_infop info) {
  const int type = png_get_color_type(png, info);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
    png_set_expand_gray_1_2_4_to_8(png);
  png_set_strip_16(png);
  png_set_strip_alpha(png);
  png_read_update_info(png, info);
}

int load_png(const std::string& bytes, OwnedBitmap* out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_read_struct(&png, &info, nullptr);
    return RET_NO_MEMORY;
  }
  PngSource source{&bytes, 0};
  std::vector<std::uint8_t> samples;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return RET_FILE_FORMAT;
  }
  png_set_read_fn(png, &source, read_png_bytes);
  png_read_info(png, info);
  plain_samples(png, info);
  const png_uint_32 width = png_get_image_width(png, info),
                    height = png_get_image_height(png, info);
  const int channels = png_get_channels(png, info);
  if (width > 65500 || height > 65500 || (channels != 1 && channels != 3)) png_error(png, "size");
  samples.resize(static_cast<std::size_t>(width) * height * channels);
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y)
    rows[y] = samples.data() + std::size_t(y) * width * channels;
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  return bitmap_from_samples(samples.data(), int(width), int(height), channels, out);
}

// Binary PGM (P5) or PPM (P6) with a maximum value of 255.
int load_pnm(const std::string& bytes, OwnedBitmap* out) {
  std::size_t at = 2;
  long values[3] = {};
  for (long& v : values) {
    while (at < bytes.size() &&
           (std::isspace(static_cast<unsigned char>(bytes[at])) || bytes[at] == '#')) {
      if (bytes[at] == '#') at = bytes.find('\n', at);
      if (at == std::string::npos) return RET_FILE_FORMAT;
      ++at;
    }
    v = 0;
    for (; at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])) && v < 1000000;
         ++at)
      v = v * 10 + (bytes[at] - '0');
  }
  ++at;  // the single white space after the maximum value
  const int channels = bytes[1] == '5' ? 1 : 3;
  if (values[0] < 1 || values[1] < 1 || values[2] != 255 || values[0] > 65500 || values[1] > 65500)
    return RET_FILE_FORMAT;
  const std::size_t need = static_cast<std::size_t>(values[0]) * values[1] * channels;
  if (at > bytes.size() || bytes.size() - at < need) return RET_FILE_READ;
  return bitmap_from_samples(reinterpret_cast<const std::uint8_t*>(bytes.data() + at),
                             int(values[0]), int(values[1]), channels, out);
}

int load_picture(const std::string& path, OwnedBitmap* out) {
  std::string bytes;
  if (!read_all(path, &bytes)) return RET_FILE_OPEN;
  if (bytes.size() > 8 && std::memcmp(bytes.data(), "\x89PNG", 4) == 0) return load_png(bytes, out);
  if (bytes.size() > 2 && bytes[0] == 'P' && (bytes[1] == '5' || bytes[1] == '6'))
    return load_pnm(bytes, out);
  if (bytes.size() > 3 && std::memcmp(bytes.data(), "\xFF\xD8\xFF", 3) == 0)
    return KvHost_LoadFromMemory(bytes.data(), &out->b, KV_BITMAP_RECORD_SIZE, 0,
                                 KV_COLOUR_AS_DECODED, static_cast<uint32_t>(bytes.size()),
                                 nullptr);
  return RET_FILE_FORMAT;
}

// The module's quality scale, 2 to 255, maps linearly onto libjpeg's 1 to 100 (190 is
// 75): the smallest value of the scale that gives `quality`.
int module_quality(int quality) {
  for (int q = 2; q <= 255; ++q)
    if (1 + ((q - 2) * 99 + 126) / 253 >= quality) return q;
  return 255;
}

// --iloc and --level through the image's record, as an application would set them.
int place_image(NitfDocument* d, const SegmentRequest& s) {
  const uint32_t index = static_cast<uint32_t>(Kv_NITFGetImageHeaderCount(d) - 1);
  NitfImageHeader h{};
  if (int r = Kv_NITFGetImageHeader(d, index, &h); r != RET_SUCCESS) return r;
  if (s.placed) {
    h.ILOC_ROW = s.row;
    h.ILOC_COLUMN = s.column;
  }
  if (s.level >= 0) h.IDLVL = static_cast<uint32_t>(s.level);
  const int r = Kv_NITFSetImageHeader(d, index, &h);
  Kv_NITFFreeImageHeader(&h);
  return r;
}

int add_image(NitfDocument* d, const SegmentRequest& s) {
  OwnedBitmap picture;
  if (int r = load_picture(s.path, &picture); r != RET_SUCCESS) return r;
  const int bits = picture.b.bits_per_pixel == 8 ? 8 : 24;
  if (int r = Kv_NITFAppendImageSegment(d, &picture.b, s.rgb ? 182 : 10, bits,
                                        module_quality(s.quality));
      r != RET_SUCCESS)
    return r;
  return s.placed || s.level >= 0 ? place_image(d, s) : RET_SUCCESS;
}

int add_graphic(NitfDocument* d, const SegmentRequest& s) {
  std::string bytes;
  if (!read_all(s.path, &bytes)) return RET_FILE_OPEN;
  void* drawing = nullptr;
  int32_t rectangle[4] = {};
  int r = KvHost_LoadCgm(bytes.data(), static_cast<uint32_t>(bytes.size()), &drawing, rectangle);
  if (r == RET_SUCCESS) r = Kv_NITFAppendGraphicSegment(d, drawing, rectangle);
  if (drawing) KvHost_FreeDrawing(drawing);
  return r;
}

int add(NitfDocument* d, const SegmentRequest& s) {
  switch (s.kind) {
    case SegmentRequest::kImage:
      return add_image(d, s);
    case SegmentRequest::kGraphic:
      return add_graphic(d, s);
    case SegmentRequest::kText:
      return Kv_NITFAppendTextSegmentA(d, s.path.c_str());
  }
  return RET_FAILURE;
}

// FTITLE and FDT through the file header record: a new file is dated now unless --fdt
// says otherwise; an appended one keeps its date unless --fdt is given.
int set_header(NitfDocument* d, const Request& request, bool dated) {
  NitfHeader h{};
  if (int r = Kv_NITFGetNITFHeader(d, &h); r != RET_SUCCESS) return r;
  char* old = h.FTITLE;
  std::string text = request.title;
  if (request.has_title) h.FTITLE = text.data();
  if (dated || request.has_fdt) std::memcpy(h.FDT, request.fdt.data(), sizeof h.FDT);
  int r = text.size() > 80 ? RET_INVALID_PARAMETER : Kv_NITFSetNITFHeader(d, &h);
  h.FTITLE = old;
  Kv_NITFFreeNITFHeader(&h);
  return r;
}

std::string utc_now() {
  const std::time_t t = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &utc);
  return text;
}

bool parse_pair(const std::string& text, int* first, int* second) {
  char tail = 0;
  return std::sscanf(text.c_str(), "%d,%d%c", first, second, &tail) == 2;
}

// An option that belongs to the --image before it.
bool parse_image_option(const std::string& a, const std::string* value, SegmentRequest* s,
                        std::string* error) {
  int n = 0;
  char tail = 0;
  if (a == "--rgb") return s->rgb = true;
  if (!value) return (*error = a + " needs a value", false);
  if (a == "--quality") {
    if (std::sscanf(value->c_str(), "%d%c", &n, &tail) != 1 || n < 1 || n > 100)
      return (*error = "--quality takes a number from 1 to 100", false);
    s->quality = n;
  } else if (a == "--iloc") {
    if (!parse_pair(*value, &s->row, &s->column)) return (*error = "--iloc takes ROW,COL", false);
    s->placed = true;
  } else if (std::sscanf(value->c_str(), "%d%c", &n, &tail) != 1 || n < 1 || n > 999) {
    return (*error = "--level takes a display level from 1 to 999", false);
  } else {
    s->level = n;
  }
  return true;
}

bool is_image_option(const std::string& a) {
  return a == "--rgb" || a == "--quality" || a == "--iloc" || a == "--level";
}

// --title and --fdt, then segments; the image options belong to the --image before them.
bool parse(const std::vector<std::string>& args, std::size_t from, Request* out,
           std::string* error) {
  out->fdt = utc_now();
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    const std::string* value = i + 1 < args.size() ? &args[i + 1] : nullptr;
    if (is_image_option(a)) {
      if (out->segments.empty() || out->segments.back().kind != SegmentRequest::kImage)
        return (*error = a + " follows an --image", false);
      if (!parse_image_option(a, value, &out->segments.back(), error)) return false;
      if (a != "--rgb") ++i;
    } else if (a == "--fdt" && value) {
      if (value->size() != 14 || value->find_first_not_of("0123456789") != std::string::npos)
        return (*error = "--fdt takes 14 digits, CCYYMMDDhhmmss", false);
      out->fdt = args[++i];
      out->has_fdt = true;
    } else if ((a == "--title" || a == "--image" || a == "--graphic" || a == "--text") && value) {
      ++i;
      if (a == "--title") {
        out->title = *value;
        out->has_title = true;
      } else {
        out->segments.push_back({a == "--image"     ? SegmentRequest::kImage
                                 : a == "--graphic" ? SegmentRequest::kGraphic
                                                    : SegmentRequest::kText,
                                 *value});
      }
    } else {
      return (*error = "unexpected '" + a + "'", false);
    }
  }
  return true;
}

const char* kind_name(SegmentRequest::Kind k) {
  return k == SegmentRequest::kImage ? "image" : k == SegmentRequest::kGraphic ? "graphic" : "text";
}

void report(NitfDocument* d, const Request& request, const std::string& out) {
  NitfHeader h{};
  std::int64_t length = 0;
  if (Kv_NITFGetNITFHeader(d, &h) == RET_SUCCESS) {
    length = h.FL;
    Kv_NITFFreeNITFHeader(&h);
  }
  const int images = Kv_NITFGetImageHeaderCount(d), graphics = Kv_NITFGetGraphicHeaderCount(d),
            texts = Kv_NITFGetTextHeaderCount(d);
  std::printf("%s: %d image%s, %d graphic%s, %d text%s; %lld bytes\n", out.c_str(), images,
              images == 1 ? "" : "s", graphics, graphics == 1 ? "" : "s", texts,
              texts == 1 ? "" : "s", static_cast<long long>(length));
  for (const SegmentRequest& s : request.segments)
    std::printf("  + %s %s\n", kind_name(s.kind), s.path.c_str());
}

int build(NitfDocument* d, const Request& request, const std::string& out, bool creating) {
  if (creating || request.has_title || request.has_fdt)
    if (int r = set_header(d, request, creating); r != RET_SUCCESS)
      return fail(out + ": header", r);
  for (const SegmentRequest& s : request.segments)
    if (int r = add(d, s); r != RET_SUCCESS) return fail(s.path, r);
  if (int r = Kv_NITFSaveFileA(d, out.c_str()); r != RET_SUCCESS) return fail(out, r);
  report(d, request, out);
  return kExitOk;
}

}  // namespace

int run_create(const std::vector<std::string>& args) {
  Request request;
  std::string error;
  if (args.empty() || !parse(args, 1, &request, &error))
    return usage_error("create: " + (error.empty() ? "usage: nitf create OUT [OPTIONS] (nitf "
                                                     "create --help)"
                                                   : error));
  NitfDocument* d = nullptr;
  if (int r = Kv_NITFCreate(&d, nullptr); r != RET_SUCCESS) return fail(args[0], r);
  const int code = build(d, request, args[0], true);
  Kv_NITFDestroy(&d);
  return code;
}

int run_append(const std::vector<std::string>& args) {
  Request request;
  std::string error;
  if (args.size() < 2 || !parse(args, 2, &request, &error))
    return usage_error("append: " +
                       (error.empty() ? "usage: nitf append IN OUT [OPTIONS]" : error));
  Document doc;
  if (int r = doc.open(args[0]); r != RET_SUCCESS) return fail(args[0], r);
  return build(doc.get(), request, args[1], false);
}

}  // namespace cli
