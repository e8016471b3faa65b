// Finding a TRE by tag and reading its fields by name; see tre_fields.h.
#include "geo/tre_fields.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "image/imsubhdr.h"
#include "tre/tre.h"

namespace nitf::geo {

namespace {

constexpr std::size_t kTagWidth = 6, kLengthWidth = 5;

bool cel(std::span<const std::uint8_t> bytes, std::size_t* value) {
  std::size_t v = 0;
  for (std::uint8_t c : bytes) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

}  // namespace

bool TreBytes::number(std::size_t offset, std::size_t width, double* value) const {
  if (offset > data.size() || width > data.size() - offset || width > 63) return false;
  char text[64];
  std::size_t n = 0;
  for (std::size_t i = 0; i < width; ++i) {
    const char c = static_cast<char>(data[offset + i]);
    if (c == ' ') continue;  // producers pad on either side
    text[n++] = c;
  }
  std::size_t start = 0;
  bool negative = false;
  if (n > 0 && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    start = 1;
  }
  // from_chars takes no '+' and would read "inf" and "nan": only digits may lead.
  if (start >= n || !((text[start] >= '0' && text[start] <= '9') || text[start] == '.'))
    return false;
  double v = 0;
  const auto [end, error] = std::from_chars(text + start, text + n, v, std::chars_format::general);
  if (error != std::errc() || end != text + n || !std::isfinite(v)) return false;
  *value = negative ? -v : v;
  return true;
}

namespace {

// The data of the first TRE called `tag` in one area's bytes.
TreLookup find_bytes(std::span<const std::uint8_t> area, const char* tag,
                     std::span<const std::uint8_t>* out) {
  const std::size_t tag_length = std::strlen(tag);
  std::size_t at = 0;
  while (area.size() - at >= kTagWidth + kLengthWidth) {
    std::size_t length = 0;
    if (!cel(area.subspan(at + kTagWidth, kLengthWidth), &length)) return TreLookup::kMalformed;
    const std::size_t data_at = at + kTagWidth + kLengthWidth;
    const bool match = tag_length <= kTagWidth &&
                       std::memcmp(area.data() + at, tag, tag_length) == 0 &&
                       (tag_length == kTagWidth || area[at + tag_length] == ' ');
    if (length > area.size() - data_at) return match ? TreLookup::kMalformed : TreLookup::kAbsent;
    if (match) {
      *out = area.subspan(data_at, length);
      return TreLookup::kFound;
    }
    at = data_at + length;
  }
  return TreLookup::kAbsent;
}

const tre::Node* named(const std::vector<tre::Node>& nodes, std::string_view name) {
  for (const tre::Node& n : nodes)
    if (n.name && name == n.name) return &n;
  return nullptr;
}

TreBytes bytes_of(const tre::Decoded& d, const tre::Node* n) {
  if (!n || n->loop || n->offset > d.bytes.size() || n->width > d.bytes.size() - n->offset)
    return {};
  return {std::span<const std::uint8_t>(d.bytes).subspan(n->offset, n->width)};
}

}  // namespace

TreBytes TreFields::field(std::string_view name) const {
  return bytes_of(decoded, named(decoded.fields, name));
}

TreBytes TreFields::field(std::string_view loop, std::size_t item, std::string_view name) const {
  const tre::Node* l = named(decoded.fields, loop);
  if (!l || !l->loop || item >= l->items.size()) return {};
  return bytes_of(decoded, named(l->items[item], name));
}

TreLookup find_tre(const NitfImageSubheader& image, const char* tag, TreFields* out) {
  TreLookup worst = TreLookup::kAbsent;
  for (const TreArea* area : {&image.ixshd, &image.udid}) {
    if (!area->present()) continue;
    std::span<const std::uint8_t> data;
    const TreLookup found = find_bytes({area->data(), area->size()}, tag, &data);
    if (found == TreLookup::kFound) {
      out->decoded = tre::decode(tag, data.data(), data.size());
      return out->decoded.status == tre::Status::kDecoded ? found : TreLookup::kMalformed;
    }
    if (found == TreLookup::kMalformed) worst = found;
  }
  return worst;
}

}  // namespace nitf::geo
