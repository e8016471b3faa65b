// nitf create and nitf append: a NITF file built from pictures, drawings and texts.
//
// Segments are added through the module's appending exports in the order given: a
// picture (PNG, PPM/PGM or JPEG) becomes a kernel bitmap and a JPEG-compressed image, a
// CGM file is loaded through the module's reader into a drawing and appended as a
// graphic, a text file goes in as it is. The document is saved once everything was
// taken; a refused segment stops the command before anything is written.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli.h"
#include "fileformat/cgm_read.h"
#include "fileformat/fileformat.h"
#include "kernel/bitmap.h"
#include "vector/drawing.h"

namespace cli {
namespace {

// The library's quality scale 2..255; 190 is libjpeg's 75.
constexpr int kDefaultQuality = 190;

struct SegmentRequest {
  enum Kind { kImage, kGraphic, kText } kind;
  std::string path;
  bool rgb = false;
  int quality = kDefaultQuality;
};

struct Request {
  std::string title;
  bool has_title = false;
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
  kernel::Bitmap b;
  OwnedBitmap() { kernel::init_bitmap(&b, kernel::kBitmapRecordSize); }
  ~OwnedBitmap() { kernel::free_bitmap(&b); }
};

// 8-bit grey or 24-bit pixels given top row first as grey or R, G, B samples.
int bitmap_from_samples(const std::uint8_t* samples, int width, int height, int channels,
                        OwnedBitmap* out) {
  const int bits = channels == 1 ? 8 : 24;
  if (kernel::create_bitmap(&out->b, kernel::kBitmapRecordSize, 1, width, height, bits,
                            channels == 1 ? kernel::kColourGrey : kernel::kColourRgb, nullptr,
                            kernel::kViewTopDown, nullptr, 0) != RET_SUCCESS)
    return RET_NO_MEMORY;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = kernel::storage_row(out->b, y);
    const std::uint8_t* in = samples + static_cast<std::size_t>(y) * width * channels;
    for (int x = 0; x < width; ++x) {
      if (channels == 1) {
        row[x] = in[x];
      } else {
        row[3 * x] = in[3 * x + 2];  // the kernel keeps blue, green, red
        row[3 * x + 1] = in[3 * x + 1];
        row[3 * x + 2] = in[3 * x];
      }
    }
  }
  return RET_SUCCESS;
}

int load_png(const std::string& bytes, OwnedBitmap* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return RET_FILE_FORMAT;
  const bool grey = (image.format & PNG_FORMAT_FLAG_COLOR) == 0;
  image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  std::vector<std::uint8_t> samples(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, samples.data(), 0, nullptr)) {
    png_image_free(&image);
    return RET_FILE_FORMAT;
  }
  return bitmap_from_samples(samples.data(), int(image.width), int(image.height), grey ? 1 : 3,
                             out);
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
    return fileformat::load_from_memory(bytes.data(), &out->b, kernel::kBitmapRecordSize, 0,
                                        fileformat::kColourAsDecoded,
                                        static_cast<std::uint32_t>(bytes.size()), nullptr);
  return RET_FILE_FORMAT;
}

int add_image(NitfDocument* d, const SegmentRequest& s) {
  OwnedBitmap picture;
  if (int r = load_picture(s.path, &picture); r != RET_SUCCESS) return r;
  const int bits = picture.b.bits_per_pixel == 8 ? 8 : 24;
  return Kv_NITFAppendImageSegment(d, reinterpret_cast<KvBitmap*>(&picture.b), s.rgb ? 182 : 10,
                                   bits, s.quality);
}

int add_graphic(NitfDocument* d, const SegmentRequest& s) {
  std::string bytes;
  if (!read_all(s.path, &bytes)) return RET_FILE_OPEN;
  vector::Drawing drawing;
  int r = fileformat::load_vector_from_memory(bytes.data(), &drawing,
                                              static_cast<std::uint32_t>(bytes.size()), nullptr);
  if (r == RET_SUCCESS) {
    vector::Point3 lower, upper;
    vector::bounds(&drawing, &lower, &upper);
    const std::int32_t rectangle[4] = {
        static_cast<std::int32_t>(lower.x), static_cast<std::int32_t>(-upper.y),
        static_cast<std::int32_t>(upper.x), static_cast<std::int32_t>(-lower.y)};
    r = Kv_NITFAppendGraphicSegment(d, &drawing, rectangle);
  }
  vector::release(&drawing);
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

int set_title(NitfDocument* d, const std::string& title) {
  NitfHeader h{};
  if (int r = Kv_NITFGetNITFHeader(d, &h); r != RET_SUCCESS) return r;
  char* old = h.FTITLE;
  std::string text = title;
  h.FTITLE = text.data();
  int r = title.size() > 80 ? RET_INVALID_PARAMETER : Kv_NITFSetNITFHeader(d, &h);
  h.FTITLE = old;
  Kv_NITFFreeNITFHeader(&h);
  return r;
}

// --title, then segments; --rgb and --quality belong to the --image before them.
bool parse(const std::vector<std::string>& args, std::size_t from, Request* out,
           std::string* error) {
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--rgb" || a == "--quality") {
      if (out->segments.empty() || out->segments.back().kind != SegmentRequest::kImage) {
        *error = a + " follows an --image";
        return false;
      }
      if (a == "--rgb") {
        out->segments.back().rgb = true;
        continue;
      }
      int q = 0;
      if (!has_value || std::sscanf(args[++i].c_str(), "%d", &q) != 1) {
        *error = "--quality takes a number from 2 to 255";
        return false;
      }
      out->segments.back().quality = q;
    } else if ((a == "--title" || a == "--image" || a == "--graphic" || a == "--text") &&
               has_value) {
      const std::string& value = args[++i];
      if (a == "--title") {
        out->title = value;
        out->has_title = true;
      } else {
        out->segments.push_back({a == "--image"     ? SegmentRequest::kImage
                                 : a == "--graphic" ? SegmentRequest::kGraphic
                                                    : SegmentRequest::kText,
                                 value});
      }
    } else {
      *error = "unexpected '" + a + "'";
      return false;
    }
  }
  return true;
}

const char* kind_name(SegmentRequest::Kind k) {
  return k == SegmentRequest::kImage ? "image" : k == SegmentRequest::kGraphic ? "graphic" : "text";
}

int build(NitfDocument* d, const Request& request, const std::string& out) {
  if (request.has_title)
    if (int r = set_title(d, request.title); r != RET_SUCCESS) return fail(out + ": --title", r);
  for (const SegmentRequest& s : request.segments)
    if (int r = add(d, s); r != RET_SUCCESS) return fail(s.path, r);
  if (int r = Kv_NITFSaveFileA(d, out.c_str()); r != RET_SUCCESS) return fail(out, r);
  NitfHeader h{};
  std::int64_t length = 0;
  if (Kv_NITFGetNITFHeader(d, &h) == RET_SUCCESS) {
    length = h.FL;
    Kv_NITFFreeNITFHeader(&h);
  }
  std::printf("%s: %d image%s, %d graphic%s, %d text%s; %lld bytes\n", out.c_str(),
              Kv_NITFGetImageHeaderCount(d), Kv_NITFGetImageHeaderCount(d) == 1 ? "" : "s",
              Kv_NITFGetGraphicHeaderCount(d), Kv_NITFGetGraphicHeaderCount(d) == 1 ? "" : "s",
              Kv_NITFGetTextHeaderCount(d), Kv_NITFGetTextHeaderCount(d) == 1 ? "" : "s",
              static_cast<long long>(length));
  for (const SegmentRequest& s : request.segments)
    std::printf("  + %s %s\n", kind_name(s.kind), s.path.c_str());
  return kExitOk;
}

}  // namespace

int run_create(const std::vector<std::string>& args) {
  Request request;
  std::string error;
  if (args.empty() || !parse(args, 1, &request, &error))
    return usage_error("create: " + (error.empty() ? "usage: nitf create OUT [--title TEXT] "
                                                     "[--image FILE [--rgb] [--quality Q]]... "
                                                     "[--graphic FILE.cgm]... [--text FILE]..."
                                                   : error));
  NitfDocument* d = nullptr;
  if (int r = Kv_NITFCreate(&d, nullptr); r != RET_SUCCESS) return fail(args[0], r);
  const int code = build(d, request, args[0]);
  Kv_NITFDestroy(&d);
  return code;
}

int run_append(const std::vector<std::string>& args) {
  Request request;
  std::string error;
  if (args.size() < 2 || !parse(args, 2, &request, &error))
    return usage_error("append: " + (error.empty()
                                         ? "usage: nitf append IN OUT [segment options of create]"
                                         : error));
  Document doc;
  if (int r = doc.open(args[0]); r != RET_SUCCESS) return fail(args[0], r);
  return build(doc.get(), request, args[1]);
}

}  // namespace cli
