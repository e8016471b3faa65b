// nitf: a person's way into the Kvntfu module.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"

namespace {

const char kUsage[] =
    "usage: nitf COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  info FILE [--json]   print the file header and the segments of FILE\n"
    "  text FILE [INDEX]    write text segment INDEX (all, without INDEX) as stored\n"
    "  render FILE [-o OUT] [--bpp 8|24|32] [--fixed-canvas] [--enhance] [--discard]\n"
    "                       compose the images of FILE onto one canvas and write it as\n"
    "                       PNG, or binary PPM (OUT ending .ppm) or PGM (.pgm, with an\n"
    "                       8-bit canvas); OUT defaults to FILE with .png; --discard\n"
    "                       composes every row and writes nothing (for timing)\n"
    "  copy IN OUT          open IN and save it unchanged as OUT; prints what was written\n"
    "  set IN OUT FIELD=VALUE ...\n"
    "                       change header fields of IN and save the result as OUT\n"
    "                       (nitf set --help lists the fields)\n"
    "  create OUT [--title TEXT] [--image FILE [--rgb] [--quality Q]]...\n"
    "             [--graphic FILE.cgm]... [--text FILE]...\n"
    "                       a new file of the pictures (PNG, PPM/PGM, JPEG; JPEG-compressed,\n"
    "                       YCbCr or with --rgb RGB, Q from 2 to 255, 190 by default),\n"
    "                       CGM drawings and texts, in the order given\n"
    "  append IN OUT [the segment options of create]\n"
    "                       IN with the segments added, saved as OUT\n"
    "  help                 print this text\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return cli::kExitUsage;
  }
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "help" || command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return cli::kExitOk;
  }
  if (command == "info") return cli::run_info(args);
  if (command == "text") return cli::run_text(args);
  if (command == "render") return cli::run_render(args);
  if (command == "copy") return cli::run_copy(args);
  if (command == "set") return cli::run_set(args);
  if (command == "create") return cli::run_create(args);
  if (command == "append") return cli::run_append(args);
  return cli::usage_error("unknown command '" + command + "'");
}
