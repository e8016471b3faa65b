// nitf render: the composed picture of a file as a picture file (PNG, TIFF, JPEG, binary
// PPM or PGM) or nothing (--discard, for timing the composition alone). The client asks
// the module the way the toolkit's file-format library does: fltInfo for the canvas
// size, then fltLoad, whose row callback hands each row, top row first, to the writer.
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <kvhost.h>

#include "cli.h"
#include "picture_writer.h"
#include "pnm_writer.h"

namespace cli {
namespace {

enum class Output { kPicture, kPpm, kPgm, kDiscard };

struct RenderOptions {
  std::string file, out;
  int bits_per_pixel = 24;
  bool bits_given = false;
  Output output = Output::kPicture;
  PictureFormat format = PictureFormat::kPng;
  uint32_t flags = 0;
  bool region = false, sized = false;
  int32_t window[4] = {};         // --region X,Y,W,H
  int32_t width = 0, height = 0;  // --size WxH
};

// Where the rows go: one writer by the output's kind, or nowhere; and, for renders that
// take a while, how far they are.
struct RowSink {
  Output output = Output::kPicture;
  PictureWriter picture;
  PnmWriter pnm;
  uint32_t rows = 0, height = 0;
  Progress progress;

  bool open(const RenderOptions& o, uint32_t width, uint32_t canvas_height) {
    height = canvas_height;
    switch (output) {
      case Output::kPicture:
        return picture.open(o.out, o.format, width, height, o.bits_per_pixel);
      case Output::kPpm:
      case Output::kPgm:
        return pnm.open(o.out, width, height, o.bits_per_pixel, output == Output::kPgm);
      case Output::kDiscard:
        return true;
    }
    return false;
  }
  bool write_row(const uint8_t* row) {
    if (output == Output::kDiscard) return true;
    return output == Output::kPicture ? picture.write_row(row) : pnm.write_row(row);
  }
  bool finish() {
    progress.done();
    if (output == Output::kDiscard) return true;
    return output == Output::kPicture ? picture.finish() : pnm.finish();
  }
  const std::string& error() const {
    return output == Output::kPicture ? picture.error() : pnm.error();
  }
};

int32_t KV_CALL on_row(void*, FltTargetDescription*, uint8_t* row, int32_t, int32_t, int32_t,
                       void* user_data) {
  auto* sink = static_cast<RowSink*>(user_data);
  if (!sink->write_row(row)) return 0;
  ++sink->rows;
  sink->progress.update("rendering", sink->rows, sink->height);
  return 1;
}

// The output file and its kind. Without -o the picture goes into the current folder,
// named after FILE with .png; "-o -" writes a PNG to standard output; otherwise the
// ending picks the format, and an ending no writer has is refused.
int choose_output(RenderOptions* o) {
  if (o->output == Output::kDiscard) {
    if (!o->out.empty()) return usage_error("render: --discard writes no file; drop -o");
    return kExitOk;
  }
  if (o->out.empty())
    o->out = std::filesystem::path(o->file).filename().replace_extension(".png").string();
  std::string ending = std::filesystem::path(o->out).extension().string();
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (o->out == "-" || ending == ".png") return kExitOk;
  if (ending == ".tif" || ending == ".tiff") {
    o->format = PictureFormat::kTiff;
  } else if (ending == ".jpg" || ending == ".jpeg") {
    o->format = PictureFormat::kJpeg;
  } else if (ending == ".ppm") {
    o->output = Output::kPpm;
  } else if (ending == ".pgm") {
    if (o->bits_given && o->bits_per_pixel != 8)
      return usage_error("render: a .pgm file takes an 8-bit canvas (--bpp 8)");
    o->output = Output::kPgm;
    o->bits_per_pixel = 8;
  } else {
    return usage_error("render: cannot write '" + o->out +
                       "': the name must end in .png, .tif, .tiff, .jpg, .jpeg, .ppm or .pgm");
  }
  return kExitOk;
}

int parse_args(const std::vector<std::string>& args, RenderOptions* o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--region" || a == "--size") {
      if (i + 1 == args.size()) return usage_error("render: " + a + " needs a value");
      const bool region = a == "--region";
      std::vector<uint32_t> v;
      if (!parse_numbers(args[++i], region ? ',' : 'x', region ? 4 : 2, INT32_MAX, &v))
        return usage_error(region ? "render: --region takes X,Y,W,H" : "render: --size takes WxH");
      if (region) {
        for (std::size_t k = 0; k < 4; ++k) o->window[k] = static_cast<int32_t>(v[k]);
        o->region = true;
      } else {
        o->width = static_cast<int32_t>(v[0]), o->height = static_cast<int32_t>(v[1]);
        o->sized = true;
      }
    } else if (a == "-o" || a == "--bpp") {
      if (i + 1 == args.size()) return usage_error("render: " + a + " needs a value");
      const std::string& v = args[++i];
      if (a == "-o") {
        o->out = v;
      } else if (v == "8" || v == "24" || v == "32") {
        o->bits_per_pixel = std::atoi(v.c_str());
        o->bits_given = true;
      } else {
        return usage_error("render: --bpp takes 8, 24 or 32");
      }
    } else if (a == "--fixed-canvas") {
      o->flags |= KV_LOAD_FIXED_CANVAS;
    } else if (a == "--enhance") {
      o->flags |= KV_LOAD_ENHANCE;
    } else if (a == "--discard") {
      o->output = Output::kDiscard;
    } else if (!a.empty() && a[0] == '-') {
      return usage_error("render: unknown option '" + a + "'");
    } else if (o->file.empty()) {
      o->file = a;
    } else {
      return usage_error("render: one file at a time");
    }
  }
  if (o->file.empty()) return usage_error("render: no file given");
  if ((o->region || o->sized) &&
      (o->bits_given || (o->flags & KV_LOAD_FIXED_CANVAS) || (o->flags & KV_LOAD_ENHANCE)))
    return usage_error("render: --region and --size compose a 24-bit canvas as it is");
  o->flags |= reading_flags();
  return choose_output(o);
}

int load_rows(const RenderOptions& o, const std::wstring& name, RowSink* sink) {
  FltLoadOptions options{};
  options.flags = o.flags;
  FltTargetDescription target{};
  target.bits_per_pixel = o.bits_per_pixel;
  auto request = std::make_unique<FltLoadRequest>();
  request->file_name = name.c_str();
  request->target = &target;
  request->row_callback = on_row;
  request->user_data = sink;
  request->load_options = &options;
  request->load_from_memory = KvHost_LoadFromMemory;
  request->set_raw_callback = KvHost_SetRawDataCallback;
  request->required = 1;
  return fltLoad(request.get());
}

// OpenJPEG allocates and frees its buffers for every strip of a large JPEG 2000 image,
// and the C heap would give that memory back to the system in between, to fault it in
// again for the next strip: kept, the 4096-pixel benchmark picture decodes in about two
// thirds of the time, at the same peak.
void keep_freed_heap() {
#ifdef M_TOP_PAD
  mallopt(M_TOP_PAD, 64 << 20);
#endif
}

}  // namespace

std::wstring wide_name(const std::string& utf8) {
  std::wstring out;
  for (std::size_t i = 0; i < utf8.size();) {
    auto c = static_cast<unsigned char>(utf8[i]);
    int extra = c < 0x80 ? 0 : c >> 5 == 0x6 ? 1 : c >> 4 == 0xE ? 2 : c >> 3 == 0x1E ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= utf8.size()) return std::wstring();
    char32_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      auto next = static_cast<unsigned char>(utf8[i + k]);
      if (next >> 6 != 0x2) return std::wstring();
      code = code << 6 | (next & 0x3F);
    }
    out.push_back(static_cast<wchar_t>(code));
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

int canvas_info(const std::string& file, uint32_t flags, uint32_t* width, uint32_t* height) {
  std::wstring name = wide_name(file);
  FltLoadOptions options{};
  options.flags = flags;
  auto info = std::make_unique<FltFileInfo>();
  FltInfoRequest request{};
  request.file_name = name.c_str();
  request.file_handle = -1;  // the module opens the file by name
  request.file_info = info.get();
  request.load_options = &options;
  int r = fltInfo(&request);
  if (r != RET_SUCCESS) return r;
  *width = info->width;
  *height = info->height;
  return RET_SUCCESS;
}

// --region and --size: the window (the whole canvas without --region) composed at the
// size asked (the window's own without --size) by Kv_NtfRenderRegion, then written.
int render_region(const RenderOptions& o) {
  if (o.output == Output::kPgm) return usage_error("render: a region is written in colour");
  Document doc;
  if (int r = doc.open(o.file); r != RET_SUCCESS) return fail(o.file, r);
  int32_t window[4] = {o.window[0], o.window[1], o.window[2], o.window[3]};
  if (!o.region) {
    uint32_t w = 0, h = 0;
    if (int r = GetActual_Width_Height(doc.get(), &w, &h); r != RET_SUCCESS) return fail(o.file, r);
    window[2] = static_cast<int32_t>(w), window[3] = static_cast<int32_t>(h);
  }
  const int32_t width = o.sized ? o.width : window[2], height = o.sized ? o.height : window[3];
  KvBitmap bitmap{};
  if (int r = Kv_NtfRenderRegion(&bitmap, doc.get(), window, width, height); r != RET_SUCCESS)
    return fail(o.file, r);
  RowSink sink;
  sink.output = o.output;
  bool ok = sink.open(o, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  for (int32_t y = 0; ok && y < height; ++y) {
    const int32_t stored = bitmap.view_code == 4 ? height - 1 - y : y;  // bottom-up rows
    ok = sink.write_row(bitmap.data + static_cast<std::size_t>(stored) * bitmap.bytes_per_line);
  }
  KvHost_FreeBitmap(&bitmap);
  if (!ok || !sink.finish()) {
    std::fprintf(stderr, "nitf: %s: %s\n", o.out.c_str(), sink.error().c_str());
    return kExitFailed;
  }
  if (o.output != Output::kDiscard && o.out != "-")
    std::printf("nitf: wrote %s (%d x %d)\n", o.out.c_str(), width, height);
  return kExitOk;
}

int run_render(const std::vector<std::string>& args) {
  RenderOptions o;
  if (int r = parse_args(args, &o); r != kExitOk) return r;
  if (o.region || o.sized) return render_region(o);
  keep_freed_heap();
  uint32_t width = 0, height = 0;
  if (int r = canvas_info(o.file, o.flags, &width, &height); r != RET_SUCCESS)
    return fail(o.file, r);
  RowSink sink;
  sink.output = o.output;
  if (!sink.open(o, width, height)) {
    std::fprintf(stderr, "nitf: %s: %s\n", o.out.c_str(), sink.error().c_str());
    return kExitFailed;
  }
  int r = load_rows(o, wide_name(o.file), &sink);
  if (r != RET_SUCCESS) {
    if (!sink.error().empty()) {
      std::fprintf(stderr, "nitf: %s: %s\n", o.out.c_str(), sink.error().c_str());
      return kExitFailed;
    }
    return fail(o.file, r);
  }
  if (!sink.finish()) {
    std::fprintf(stderr, "nitf: %s: %s\n", o.out.c_str(), sink.error().c_str());
    return kExitFailed;
  }
  // A picture on standard output is all that goes there.
  if (o.output == Output::kDiscard)
    std::printf("nitf: composed %s (%u x %u), %u rows discarded\n", o.file.c_str(), width, height,
                sink.rows);
  else if (o.out != "-")
    std::printf("nitf: wrote %s (%u x %u)\n", o.out.c_str(), width, height);
  return kExitOk;
}

}  // namespace cli
