// Kernel string conversion: a strict UTF-8 decoder and encoder.
#include "strings.h"

#include <cstdint>
#include <cwchar>
#include <vector>

#include "memory.h"

namespace kernel {
namespace {

bool valid_code_point(std::uint32_t c) {
  return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

// Decodes one UTF-8 sequence at s; advances s. False on a malformed sequence.
bool decode_one(const unsigned char*& s, std::uint32_t* out) {
  unsigned char b = *s++;
  if (b < 0x80) {
    *out = b;
    return true;
  }
  int extra;
  std::uint32_t c;
  if ((b & 0xE0) == 0xC0) {
    extra = 1;
    c = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2;
    c = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3;
    c = b & 0x07;
  } else {
    return false;
  }
  for (int i = 0; i < extra; ++i) {
    if ((*s & 0xC0) != 0x80) return false;  // also stops at the terminating NUL
    c = (c << 6) | (*s++ & 0x3F);
  }
  static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMin[extra] || !valid_code_point(c)) return false;
  *out = c;
  return true;
}

}  // namespace

wchar_t* wide_copy(const char* utf8) {
  if (!utf8) return nullptr;
  std::vector<wchar_t> wide;
  const auto* s = reinterpret_cast<const unsigned char*>(utf8);
  while (*s) {
    std::uint32_t c;
    if (!decode_one(s, &c)) return nullptr;
    wide.push_back(static_cast<wchar_t>(c));
  }
  auto* copy = static_cast<wchar_t*>(allocate(wide.size() + 1, sizeof(wchar_t)));
  if (!copy) return nullptr;
  for (std::size_t i = 0; i < wide.size(); ++i) copy[i] = wide[i];
  copy[wide.size()] = L'\0';
  return copy;
}

void release_wide(wchar_t* wide) {
  kernel::free(wide);
}

bool utf8_from_wide(const wchar_t* wide, std::string* out) {
  out->clear();
  if (!wide) return false;
  for (; *wide; ++wide) {
    auto c = static_cast<std::uint32_t>(*wide);
    if (!valid_code_point(c)) return false;
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (c >> 12)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (c >> 18)));
      out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return true;
}

}  // namespace kernel
