// How a decode through any build of the IJG API ends in a return code: libjpeg-turbo's
// 8-bit build (jpeg_decode.cpp) and GDCM's 12- and 16-bit builds (jpeg_ijg.h). Each
// build has its own types behind the same names, so this file is included right after
// that build's jpeglib.h and jerror.h, and everything here has internal linkage.
//
// error_exit must not return; ours longjmps back to the one frame that called setjmp.
// Trace messages are dropped and warnings tolerated (libjpeg recovers from a damaged
// code or a restart marker out of place), except data that end while scan lines are
// still owed: the stream running out, or a scan that meets a marker before its last
// block (a cut stream with an end-of-image marker put back).
#pragma once

#include <csetjmp>
#include <cstdint>

#include "fileformat.h"

namespace fileformat::detail {
namespace {

struct ErrorManager {
  jpeg_error_mgr pub;  // first, so that libjpeg's pointer to it is a pointer to us
  std::jmp_buf jump;
  std::int32_t code;
  bool rows_complete;
};

std::int32_t code_of(int message) {
  switch (message) {
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
      return RET_NO_MEMORY;
    case JERR_BAD_PRECISION:
    case JERR_SOF_UNSUPPORTED:
    case JERR_NOT_COMPILED:
    case JERR_ARITH_NOTIMPL:
      return RET_NOT_SUPPORTED;
    default:
      return RET_FILE_FORMAT;
  }
}

[[noreturn]] void on_error(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<ErrorManager*>(cinfo->err);
  error->code = code_of(error->pub.msg_code);
  std::longjmp(error->jump, 1);
}

void on_message(j_common_ptr cinfo, int level) {
  auto* error = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level >= 0) return;
  ++error->pub.num_warnings;
  const int message = error->pub.msg_code;
  if ((message == JWRN_JPEG_EOF || message == JWRN_HIT_MARKER) && !error->rows_complete) {
    error->code = RET_FILE_FORMAT;
    std::longjmp(error->jump, 1);
  }
}

void on_output(j_common_ptr) {}

// Routes libjpeg's errors and messages to the handlers above.
jpeg_error_mgr* install_errors(ErrorManager& error) {
  jpeg_error_mgr* pub = jpeg_std_error(&error.pub);
  error.pub.error_exit = on_error;
  error.pub.emit_message = on_message;
  error.pub.output_message = on_output;
  return pub;
}

}  // namespace
}  // namespace fileformat::detail
