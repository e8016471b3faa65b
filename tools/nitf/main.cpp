// nitf: a person's way into the Kvntfu module.
//
// The command table below is the one list of commands: dispatch, `nitf help` and
// `nitf COMMAND --help` all read it. Options every command takes (--strict, --quiet) may
// stand anywhere on the line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"

#ifndef KVNTF_VERSION_TEXT
#define KVNTF_VERSION_TEXT "unknown"
#endif

namespace {

struct Command {
  const char* name;
  const char* usage;  // the first line, then what it does
  int (*run)(const std::vector<std::string>&);
};

const Command kCommands[] = {
    {"info",
     "info FILE [--json | --geojson]\n"
     "    Every field of the file header and of every segment of FILE, with each located\n"
     "    image's corners; --json as one JSON object whose keys are the lower-case NITF\n"
     "    field names (docs/nitf-info.schema.json);\n"
     "    --geojson every image's footprint as a GeoJSON FeatureCollection.\n",
     cli::run_info},
    {"locate",
     "locate FILE [--image N] ROW COL [HEIGHT] | locate FILE [--image N] --ground LAT LON HEIGHT\n"
     "    Projects through image N's RPC (0 by default): ROW COL (0 0 is the centre of the\n"
     "    first pixel) to latitude and longitude at HEIGHT metres above the ellipsoid (0),\n"
     "    or a ground point to row and column.\n",
     cli::run_locate},
    {"text",
     "text FILE [INDEX]\n"
     "    The bytes of text segment INDEX (every text segment without INDEX), as stored.\n",
     cli::run_text},
    {"render",
     "render FILE [-o OUT] [--bpp 8|24|32] [--fixed-canvas] [--enhance] [--discard]\n"
     "       [--region X,Y,W,H] [--size WxH]\n"
     "    Every image, graphic, symbol and label of FILE composed onto one canvas. OUT's\n"
     "    ending picks the format: .png, .tif or .tiff, .jpg or .jpeg, .ppm, .pgm (an\n"
     "    8-bit canvas); '-o -' writes a PNG to standard output; without -o the picture\n"
     "    goes into the current folder, named after FILE with .png. A grey picture is\n"
     "    written in grey. --bpp: the canvas depth (24). --fixed-canvas: a 2048 x 2048\n"
     "    canvas, cropping what lies beyond. --enhance: brightens images whose every\n"
     "    pixel is below 20 (deep or radiometric data that would show black).\n"
     "    --discard: composes every row and writes nothing, for timing. --region: the\n"
     "    window of W x H canvas pixels from column X and row Y alone; --size: composed\n"
     "    into W x H pixels (images by nearest pixel, drawings painted at that scale).\n",
     cli::run_render},
    {"extract",
     "extract FILE [--image N] [--region X,Y,W,H] [--reduce N] [--bands 1,2,3] -o OUT.tif\n"
     "    The samples image N (0) stores, as a TIFF in their own type and band count: the\n"
     "    window of W columns and H rows from column X and row Y (the whole image), every\n"
     "    N-th sample of it (--reduce 1, 2, 4, ...; JPEG 2000 at the codec's own levels),\n"
     "    the bands listed from 1 (every band).\n",
     cli::run_extract},
    {"tiles",
     "tiles FILE OUTDIR [--tile N]\n"
     "    The composed picture as a pyramid of N x N PNG tiles (256) in the z/x/y layout\n"
     "    web maps use, level 0 one tile and the last at the picture's scale, with\n"
     "    OUTDIR/tiles.json giving the picture's size, the levels and the tile size.\n",
     cli::run_tiles},
    {"serve",
     "serve FILE... [--port N] [--host ADDRESS] [--threads N]\n"
     "    A web page of the files at http://ADDRESS:N/ (127.0.0.1, port 8080; 0 picks a\n"
     "    free port): the composed picture with pan and zoom, tiles rendered on demand by\n"
     "    N threads (one per core); every segment with its headers and TREs, a switch to\n"
     "    hide each image, graphic and label, text segments; image corners and, through\n"
     "    an RPC, the latitude and longitude under the pointer. Ctrl-C stops it.\n",
     cli::run_serve},
    {"copy",
     "copy IN OUT\n"
     "    IN opened and saved unchanged as OUT (IN may be OUT: OUT is replaced only once\n"
     "    completely written).\n",
     cli::run_copy},
    {"set",
     "set IN OUT FIELD=VALUE ...\n"
     "    Header fields of IN changed and saved as OUT: ftitle=TEXT, image[0].iid1=TEXT,\n"
     "    image[0].iloc=ROW,COL, graphic[1].sloc=ROW,COL, fbkgc=R,G,B; nitf set --help\n"
     "    lists every field. Fields that describe the stored data (sizes, codes, counts)\n"
     "    are refused.\n",
     cli::run_set},
    {"create",
     "create OUT [--title TEXT] [--fdt CCYYMMDDhhmmss]\n"
     "       [--image FILE [--rgb] [--quality Q] [--iloc ROW,COL] [--level N]]...\n"
     "       [--graphic FILE.cgm]... [--text FILE]...\n"
     "    A new file of pictures (PNG, PPM/PGM or JPEG, stored JPEG-compressed as YCbCr,\n"
     "    or RGB with --rgb, at quality Q from 1 to 100, 75 by default), CGM drawings and\n"
     "    text files, in the order given. FDT is the current UTC time unless --fdt;\n"
     "    --iloc places an image, --level sets its display level.\n",
     cli::run_create},
    {"append",
     "append IN OUT [the segment options of create]\n"
     "    IN with the segments added, saved as OUT.\n",
     cli::run_append},
};

const char kOptions[] =
    "options of every command:\n"
    "  --strict    read as the module does without extended reading: NITF 2.1 and NSIF\n"
    "              1.0 of complexity level 03, 8-bit multi-band and INT or B pixels only\n"
    "  --quiet     no progress on standard error\n"
    "  --help      the command's usage\n"
    "\n"
    "exit codes: 0 done, 1 the module refused the file or the work failed (one line on\n"
    "standard error says why), 2 the command line was wrong.\n";

void print_usage(std::FILE* out) {
  std::fputs("usage: nitf COMMAND [ARGS] [--strict] [--quiet]\n\ncommands:\n", out);
  for (const Command& c : kCommands) std::fprintf(out, "  %s", c.usage);
  std::fputs("  help | --help | --version\n\n", out);
  std::fputs(kOptions, out);
}

const Command* find(const std::string& name) {
  for (const Command& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

// Takes the options every command shares out of `args`; true when --help was among them.
bool take_shared_options(std::vector<std::string>* args) {
  bool help = false;
  std::vector<std::string> rest;
  for (const std::string& a : *args) {
    if (a == "--strict") {
      cli::settings().strict = true;
    } else if (a == "--quiet") {
      cli::settings().quiet = true;
    } else if (a == "--help" || a == "-h") {
      help = true;
    } else {
      rest.push_back(a);
    }
  }
  *args = rest;
  return help;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("nitf: no command given\nTry 'nitf help'.\n", stderr);
    return cli::kExitUsage;
  }
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "help" || command == "--help" || command == "-h") {
    print_usage(stdout);
    return cli::kExitOk;
  }
  if (command == "--version") {
    std::printf("nitf %s\n", KVNTF_VERSION_TEXT);
    return cli::kExitOk;
  }
  const Command* c = find(command);
  if (!c) return cli::usage_error("unknown command '" + command + "'");
  const bool help = take_shared_options(&args);
  if (help && command != "set") {
    std::printf("usage: nitf %s\n%s", c->usage, kOptions);
    return cli::kExitOk;
  }
  if (help) args.insert(args.begin(), "--help");  // set lists its fields
  cli::install_sinks();
  return c->run(args);
}
