// The binary CGM decoder behind load_vector_from_memory.
//
// Three layers: an element cursor over the bounded input (header, long form, partitions
// joined into one scratch buffer, pad bytes); a parameter reader whose every read is
// checked against the element's own length, so no parameter can reach outside the data;
// and the loader, one handler per element class and per drawn element, which turns the
// metafile into the drawing's layers, fonts and objects.
// Every loop advances by at least one element header, and every allocation is bounded
// by the element it comes from or the drawing's caps: hostile data ends in a code.
#include "fileformat/cgm_read.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "kernel/memory.h"

namespace fileformat {
namespace {

using vector::Vertex;

struct Element {
  std::uint32_t cls = 0, id = 0;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// Walks elements over [data, data + size).
class ElementCursor {
 public:
  ElementCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool at_end() const { return pos_ >= size_; }

  // The next element, RET_FILE_FORMAT when its header or parameters run past the data
  // (RET_NO_MEMORY when its pieces cannot be joined). A partitioned element's pieces are
  // joined in `scratch`, which `element` then points into until the next call.
  std::int32_t next(Element* element, kernel::Buffer<std::uint8_t>* scratch) {
    std::uint16_t word = 0;
    if (!read_word(&word)) return RET_FILE_FORMAT;
    element->cls = word >> 12;
    element->id = (word >> 5) & 0x7F;
    std::size_t length = word & 0x1F;
    if (length != 31) return take(length, element);

    std::uint16_t long_word = 0;
    if (!read_word(&long_word)) return RET_FILE_FORMAT;
    if (!(long_word & 0x8000)) return take(long_word & 0x7FFF, element);
    return partitioned(long_word, element, scratch);
  }

 private:
  bool read_word(std::uint16_t* word) {
    if (size_ - pos_ < 2) return false;
    *word = std::uint16_t(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return true;
  }
  // Partitioned: every piece is measured first (each is checked against the data),
  // then they are copied into one buffer no larger than the data itself.
  std::int32_t partitioned(std::uint16_t first_piece, Element* element,
                           kernel::Buffer<std::uint8_t>* scratch) {
    const std::size_t first_at = pos_ - 2;
    std::size_t total = 0;
    if (std::int32_t r = measure_pieces(first_piece, &total); r != RET_SUCCESS) return r;
    if (!scratch->allocate(std::max<std::size_t>(total, 1))) return RET_NO_MEMORY;
    join_pieces(first_at, pos_, scratch->data());
    element->data = scratch->data();
    element->size = total;
    return RET_SUCCESS;
  }

  // Steps over the pieces from the one whose length word `piece` is, adding up their
  // lengths in `total`.
  std::int32_t measure_pieces(std::uint16_t piece, std::size_t* total) {
    while (true) {
      const std::size_t n = piece & 0x7FFF;
      if (n > size_ - pos_) return RET_FILE_FORMAT;
      *total += n;
      pos_ += n + (n & 1);
      if (pos_ > size_) pos_ = size_;  // a missing final pad byte is forgiven
      if (!(piece & 0x8000)) return RET_SUCCESS;
      if (!read_word(&piece)) return RET_FILE_FORMAT;
    }
  }

  // Copies the measured pieces, the first one's length word at `at`, up to `end`.
  void join_pieces(std::size_t at, std::size_t end, std::uint8_t* out) const {
    std::size_t filled = 0;
    std::uint16_t piece = 0;
    do {
      piece = std::uint16_t(data_[at] << 8 | data_[at + 1]);
      at += 2;
      const std::size_t n = piece & 0x7FFF;
      std::memcpy(out + filled, data_ + at, n);
      filled += n;
      at += n + (n & 1);
    } while ((piece & 0x8000) && at < end);
  }

  std::int32_t take(std::size_t length, Element* element) {
    if (length > size_ - pos_) return RET_FILE_FORMAT;
    element->data = data_ + pos_;
    element->size = length;
    pos_ += length + (length & 1);
    if (pos_ > size_) pos_ = size_;  // the last element's pad byte may be missing
    return RET_SUCCESS;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A real number's encoding: floating point (9/23 or 12/52 bits) or fixed point (16/16
// or 32/32 bits of whole and fraction).
struct RealPrecision {
  bool fixed = true;
  std::int32_t first = 16, second = 16;
  std::size_t bytes() const {
    return fixed ? std::size_t(first + second) / 8 : (first == 9 ? 4 : 8);
  }
};

bool valid_real(const RealPrecision& r) {
  if (r.fixed) return (r.first == 16 && r.second == 16) || (r.first == 32 && r.second == 32);
  return (r.first == 9 && r.second == 23) || (r.first == 12 && r.second == 52);
}

bool valid_bits(std::int64_t bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// What the metafile descriptor fixes for all pictures.
struct MetafileState {
  std::int32_t integer_bits = 16, index_bits = 16, colour_bits = 8, colour_index_bits = 8;
  RealPrecision real;
  std::int32_t vdc_real_type = 0;  // VDC TYPE: 0 integer, 1 real
  std::uint32_t colour_min[3] = {0, 0, 0}, colour_max[3] = {255, 255, 255};
  std::int32_t font_base = 0;  // drawing font index of the metafile's font 1
  std::int32_t font_count = 0;
};

// What every picture starts again from.
struct PictureState {
  std::int32_t vdc_int_bits = 16;
  RealPrecision vdc_real;
  std::int32_t colour_mode = 0;  // 0 indexed, 1 direct
  bool flip = false;
  bool has_extent = false;
  double extent[4] = {0, 0, 32767, 32767};
  vector::Attributes attributes;
  std::uint32_t table[256] = {};
  PictureState() {
    // CGM's default table: 0 the background (white), 1 the foreground (black).
    table[0] = 0xFFFFFF;
  }
};

// Reads parameters of one element; every read past its end marks it short and gives 0.
class Params {
 public:
  Params(const Element& e, const MetafileState& m, const PictureState& p)
      : data_(e.data), size_(e.size), meta_(m), pic_(p) {}

  bool short_read() const { return short_; }
  bool bad_number() const { return bad_number_; }
  std::size_t remaining() const { return size_ - pos_; }

  std::int64_t sint(std::int32_t bits) {
    const std::uint64_t u = uint(bits);
    const std::uint64_t sign = std::uint64_t(1) << (bits - 1);
    return std::int64_t(u ^ sign) - std::int64_t(sign);
  }
  std::uint64_t uint(std::int32_t bits) {
    const std::size_t n = std::size_t(bits) / 8;
    if (remaining() < n) {
      short_ = true;
      pos_ = size_;
      return 0;
    }
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v = v << 8 | data_[pos_ + i];
    pos_ += n;
    return v;
  }
  std::int64_t integer() { return sint(meta_.integer_bits); }
  std::int64_t index() { return sint(meta_.index_bits); }
  std::int64_t enumerated() { return sint(16); }
  double real(const RealPrecision& r) {
    if (r.fixed) {
      const double whole = double(sint(r.first));
      const double fraction = double(uint(r.second));
      return whole + std::ldexp(fraction, -r.second);
    }
    double v = 0;
    if (r.first == 9) {
      const std::uint32_t bits = std::uint32_t(uint(32));
      float f;
      std::memcpy(&f, &bits, 4);
      v = f;
    } else {
      const std::uint64_t bits = uint(64 - 32) << 32;
      const std::uint64_t low = uint(32);
      const std::uint64_t all = bits | low;
      std::memcpy(&v, &all, 8);
    }
    if (!std::isfinite(v)) {
      bad_number_ = true;
      return 0;
    }
    return v;
  }
  double real() { return real(meta_.real); }
  double vdc() {
    return meta_.vdc_real_type ? real(pic_.vdc_real) : double(sint(pic_.vdc_int_bits));
  }
  std::size_t vdc_bytes() const {
    return meta_.vdc_real_type ? pic_.vdc_real.bytes() : std::size_t(pic_.vdc_int_bits) / 8;
  }
  // A point in world coordinates.
  Vertex point() {
    Vertex v;
    v.x = vdc();
    v.y = vdc();
    if (pic_.flip) v.y = -v.y;
    return v;
  }
  // A direction vector in world coordinates (mirrored as points are).
  vector::Point2 direction() {
    vector::Point2 d;
    d.x = vdc();
    d.y = vdc();
    if (pic_.flip) d.y = -d.y;
    return d;
  }
  std::uint32_t colour() {
    if (pic_.colour_mode == 1) return direct_colour();
    const std::uint64_t i = uint(meta_.colour_index_bits);
    return i < 256 ? pic_.table[i] : 0;
  }
  std::uint32_t direct_colour() {
    std::uint32_t out = 0;
    for (int c = 0; c < 3; ++c) {
      const double v = double(uint(meta_.colour_bits));
      const double lo = meta_.colour_min[c], hi = meta_.colour_max[c];
      double scaled = hi > lo ? (v - lo) * 255.0 / (hi - lo) : v;
      scaled = std::clamp(scaled, 0.0, 255.0);
      out |= std::uint32_t(std::lround(scaled)) << (8 * c);
    }
    return out;
  }
  // A string (short form: a length byte; 255 introduces the long form's pieces, each
  // with a continuation bit and 15 bits of length). The bytes go to `out`, which is
  // sized to the element's remaining bytes, so its length is bounded by the element.
  bool string(kernel::Buffer<char>* out, std::uint32_t* length) {
    *length = 0;
    if (!out->allocate(std::max<std::size_t>(remaining(), 1))) return false;
    std::size_t n = std::size_t(uint(8));
    if (short_) return true;
    if (n < 255) return append(out, length, n), true;
    bool more = true;
    while (more && !short_) {
      const std::uint64_t w = uint(16);
      more = w & 0x8000;
      append(out, length, std::size_t(w & 0x7FFF));
    }
    return true;
  }

 private:
  void append(kernel::Buffer<char>* out, std::uint32_t* length, std::size_t n) {
    if (remaining() < n) {
      short_ = true;
      n = remaining();
    }
    std::memcpy(out->data() + *length, data_ + pos_, n);
    *length += std::uint32_t(n);
    pos_ += n;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool short_ = false;
  bool bad_number_ = false;
  const MetafileState& meta_;
  const PictureState& pic_;
};

// The attributes that need nothing but their parameters.
struct AttributeReader {
  std::uint32_t id;
  void (*read)(Params& p, vector::Attributes& a);
};

constexpr AttributeReader kAttributeReaders[] = {
    {2, [](Params& p, vector::Attributes& a) { a.line_type = std::int32_t(p.index()); }},
    {3,  // LINE WIDTH
     [](Params& p, vector::Attributes& a) {
       a.line_width = a.line_width_mode == 0 ? std::fabs(p.vdc()) : p.real();
     }},
    {4, [](Params& p, vector::Attributes& a) { a.line_colour = p.colour(); }},
    {14, [](Params& p, vector::Attributes& a) { a.text_colour = p.colour(); }},
    {15, [](Params& p, vector::Attributes& a) { a.character_height = std::fabs(p.vdc()); }},
    {16,  // CHARACTER ORIENTATION
     [](Params& p, vector::Attributes& a) {
       a.up = p.direction();
       a.base = p.direction();
     }},
    {22,
     [](Params& p, vector::Attributes& a) {
       a.interior_style = vector::InteriorStyle(std::clamp<std::int64_t>(p.enumerated(), 0, 4));
     }},
    {23, [](Params& p, vector::Attributes& a) { a.fill_colour = p.colour(); }},
    {24, [](Params& p, vector::Attributes& a) { a.hatch_index = std::int32_t(p.index()); }},
    {27, [](Params& p, vector::Attributes& a) { a.edge_type = std::int32_t(p.index()); }},
    {28,  // EDGE WIDTH
     [](Params& p, vector::Attributes& a) {
       a.edge_width = a.edge_width_mode == 0 ? std::fabs(p.vdc()) : p.real();
     }},
    {29, [](Params& p, vector::Attributes& a) { a.edge_colour = p.colour(); }},
    {30, [](Params& p, vector::Attributes& a) { a.edge_visible = p.enumerated() == 1; }},
};

class Loader {
 public:
  explicit Loader(vector::Drawing* out) : out_(out) {}

  std::int32_t run(const std::uint8_t* data, std::size_t size) {
    ElementCursor cursor(data, size);
    Element e;
    if (std::int32_t r = cursor.next(&e, &scratch_); r != RET_SUCCESS) return r;
    if (e.cls != 0 || e.id != 1) return RET_FILE_FORMAT;  // not BEGIN METAFILE
    while (true) {
      if (cursor.at_end()) return RET_FILE_FORMAT;  // no END METAFILE
      if (std::int32_t r = cursor.next(&e, &scratch_); r != RET_SUCCESS) return r;
      if (e.cls == 0 && e.id == 2) return RET_SUCCESS;
      if (std::int32_t r = element(e, &picture_); r != RET_SUCCESS) return r;
    }
  }

 private:
  // One element; `state` is the current picture's, or the defaults while a METAFILE
  // DEFAULTS REPLACEMENT is read.
  std::int32_t element(const Element& e, PictureState* state) {
    Params p(e, meta_, *state);
    if (std::int32_t r = dispatch(e, p, state); r != RET_SUCCESS) return r;
    if (p.short_read() || p.bad_number()) return RET_FILE_FORMAT;
    return RET_SUCCESS;
  }

  std::int32_t dispatch(const Element& e, Params& p, PictureState* state) {
    switch (e.cls) {
      case 0:
        return delimiter(e, p);
      case 1:
        return metafile_descriptor(e, p);
      case 2:
        return picture_descriptor(e, p, state);
      case 3:
        return control(e, p, state);
      case 4:
        return primitive(e, p);
      case 5:
        return attribute(e, p, state);
      default:
        return RET_SUCCESS;  // escapes, external and segment elements: nothing to draw
    }
  }

  std::int32_t delimiter(const Element& e, Params& p) {
    if (e.id != 3) return RET_SUCCESS;  // BEGIN PICTURE: a fresh state and a layer
    picture_ = defaults_;
    kernel::Buffer<char> name;
    std::uint32_t length = 0;
    if (!p.string(&name, &length)) return RET_NO_MEMORY;
    vector::LayerDescription layer;
    for (std::uint32_t i = 0; i < length && i + 1 < vector::kLayerNameRoom; ++i)
      layer.name[i] = char16_t(static_cast<unsigned char>(name[i]));
    std::int32_t index = 0;
    return vector::add_layer(out_, &layer, &index, 0);
  }

  std::int32_t metafile_descriptor(const Element& e, Params& p) {
    switch (e.id) {
      case 3:  // VDC TYPE
        meta_.vdc_real_type = p.enumerated() == 1;
        return RET_SUCCESS;
      case 4:  // INTEGER PRECISION
        return precision(p, &meta_.integer_bits);
      case 5:
        return real_precision(p, &meta_.real);
      case 6:  // INDEX PRECISION
        return precision(p, &meta_.index_bits);
      case 7:  // COLOUR PRECISION
        return precision(p, &meta_.colour_bits);
      case 8:  // COLOUR INDEX PRECISION
        return precision(p, &meta_.colour_index_bits);
      case 10:
        return colour_value_extent(p);
      case 12:  // METAFILE DEFAULTS REPLACEMENT: elements that change the defaults
        return defaults_replacement(e);
      case 13:
        return font_list(p);
      default:
        return RET_SUCCESS;
    }
  }

  // A precision given as a bit count: a whole number of bytes up to four.
  std::int32_t precision(Params& p, std::int32_t* out) {
    const std::int64_t bits = p.integer();
    if (p.short_read() || !valid_bits(bits)) return RET_FILE_FORMAT;
    *out = std::int32_t(bits);
    return RET_SUCCESS;
  }

  std::int32_t colour_value_extent(Params& p) {
    for (int c = 0; c < 3; ++c) meta_.colour_min[c] = std::uint32_t(p.uint(meta_.colour_bits));
    for (int c = 0; c < 3; ++c) meta_.colour_max[c] = std::uint32_t(p.uint(meta_.colour_bits));
    return RET_SUCCESS;
  }

  // The metafile's fonts are appended to the drawing's; TEXT FONT INDEX counts from them.
  std::int32_t font_list(Params& p) {
    meta_.font_base = std::int32_t(out_->fonts.count);
    meta_.font_count = 0;
    while (p.remaining() > 0 && !p.short_read()) {
      kernel::Buffer<char> name;
      std::uint32_t length = 0;
      if (!p.string(&name, &length)) return RET_NO_MEMORY;
      if (std::int32_t r = vector::add_font(out_, name.data(), length, nullptr); r != RET_SUCCESS)
        return r;
      ++meta_.font_count;
    }
    return RET_SUCCESS;
  }

  std::int32_t real_precision(Params& p, RealPrecision* out) {
    RealPrecision r;
    r.fixed = p.enumerated() == 1;
    r.first = std::int32_t(p.integer());
    r.second = std::int32_t(p.integer());
    if (p.short_read() || !valid_real(r)) return RET_FILE_FORMAT;
    *out = r;
    return RET_SUCCESS;
  }

  std::int32_t defaults_replacement(const Element& e) {
    if (in_defaults_) return RET_SUCCESS;  // not nested
    in_defaults_ = true;
    ElementCursor inner(e.data, e.size);
    kernel::Buffer<std::uint8_t> scratch;
    std::int32_t r = RET_SUCCESS;
    while (r == RET_SUCCESS && !inner.at_end()) {
      Element sub;
      r = inner.next(&sub, &scratch);
      // Only descriptors, controls and attributes may stand here.
      if (r == RET_SUCCESS && (sub.cls == 2 || sub.cls == 3 || sub.cls == 5))
        r = element(sub, &defaults_);
    }
    in_defaults_ = false;
    picture_ = defaults_;
    return r;
  }

  std::int32_t picture_descriptor(const Element& e, Params& p, PictureState* s) {
    switch (e.id) {
      case 2:  // COLOUR SELECTION MODE
        s->colour_mode = p.enumerated() == 1;
        return RET_SUCCESS;
      case 3:  // how line widths are given: absolute or scaled
        s->attributes.line_width_mode = std::int32_t(p.enumerated());
        return RET_SUCCESS;
      case 5:  // how edge widths are given
        s->attributes.edge_width_mode = std::int32_t(p.enumerated());
        return RET_SUCCESS;
      case 6:
        return vdc_extent(p, s);
      default:
        return RET_SUCCESS;
    }
  }

  // VDC EXTENT: kept as raw values, as the direction is what they decide.
  std::int32_t vdc_extent(Params& p, PictureState* s) {
    double v[4];
    for (double& x : v) x = p.vdc();
    if (p.short_read() || p.bad_number()) return RET_FILE_FORMAT;
    std::copy(v, v + 4, s->extent);
    s->has_extent = true;
    s->flip = v[1] > v[3];
    if (s == &picture_) note_extent(*s);
    return RET_SUCCESS;
  }

  std::int32_t control(const Element& e, Params& p, PictureState* s) {
    switch (e.id) {
      case 1: {  // VDC INTEGER PRECISION
        const std::int64_t bits = p.integer();
        if (p.short_read()) return RET_FILE_FORMAT;
        if (bits != 16 && bits != 24 && bits != 32) return RET_FILE_FORMAT;
        s->vdc_int_bits = std::int32_t(bits);
        return RET_SUCCESS;
      }
      case 2:  // VDC REAL PRECISION
        return real_precision(p, &s->vdc_real);
      default:
        return RET_SUCCESS;  // auxiliary colour, transparency, clipping
    }
  }

  void note_extent(const PictureState& s) {
    const double sign = s.flip ? -1 : 1;
    out_->has_extent = 1;
    out_->extent_lower = {std::min(s.extent[0], s.extent[2]),
                          std::min(sign * s.extent[1], sign * s.extent[3])};
    out_->extent_upper = {std::max(s.extent[0], s.extent[2]),
                          std::max(sign * s.extent[1], sign * s.extent[3])};
  }

  std::int32_t attribute(const Element& e, Params& p, PictureState* s) {
    if (e.id == 10) return text_font_index(p, &s->attributes);
    if (e.id == 34) return colour_table(p, s);
    for (const AttributeReader& reader : kAttributeReaders)
      if (reader.id == e.id) reader.read(p, s->attributes);
    return RET_SUCCESS;
  }

  // TEXT FONT INDEX: 1 for the metafile's first font.
  std::int32_t text_font_index(Params& p, vector::Attributes* a) {
    const std::int64_t i = p.index();
    a->font = i >= 1 && i <= meta_.font_count ? meta_.font_base + std::int32_t(i - 1) : -1;
    return RET_SUCCESS;
  }

  // COLOUR TABLE: a starting index, then direct colours.
  std::int32_t colour_table(Params& p, PictureState* s) {
    std::uint64_t i = p.uint(meta_.colour_index_bits);
    const std::size_t each = std::size_t(meta_.colour_bits) / 8 * 3;
    while (p.remaining() >= each && !p.short_read()) {
      const std::uint32_t c = p.direct_colour();
      if (i < 256) s->table[i] = c;
      ++i;
    }
    return RET_SUCCESS;
  }

  // The vertices filling the rest of the element, `extra` bytes after each point.
  std::int32_t vertex_list(Params& p, std::size_t extra, kernel::Buffer<Vertex>* out,
                           std::uint32_t* count) {
    const std::size_t each = p.vdc_bytes() * 2 + extra;
    const std::size_t n = p.remaining() / each;
    *count = 0;
    if (n == 0) return RET_SUCCESS;
    if (n > vector::kMaxPoints) return RET_NO_MEMORY;
    if (!out->allocate(n)) return RET_NO_MEMORY;
    for (std::size_t i = 0; i < n; ++i) {
      (*out)[i] = p.point();
      if (extra) (*out)[i].edge = std::int32_t(p.enumerated());
    }
    *count = std::uint32_t(n);
    return RET_SUCCESS;
  }

  std::int32_t add(vector::ObjectKind kind, vector::ObjectDescription& d) {
    d.attributes = picture_.attributes;
    return vector::add_object(out_, 0, kind, &d, 0);
  }

  std::int32_t primitive(const Element& e, Params& p) {
    switch (e.id) {
      case 1:  // POLYLINE
      case 7:  // POLYGON
      case 8:  // POLYGON SET
        return point_list(e, p);
      case 2:
        return disjoint_polyline(p);
      case 4:  // TEXT
      case 5:  // RESTRICTED TEXT
        return text(e, p);
      case 13:  // CIRCULAR ARC 3 POINT
      case 14:  // and its CLOSE form
        return arc_through_points(e, p);
      case 11:
      case 12:
      case 15:
      case 16:
      case 17:
      case 18:
      case 19:
        return shape(e, p);
      default:
        return RET_SUCCESS;  // markers, cell arrays, GDPs: not in the profile's drawings
    }
  }

  std::int32_t point_list(const Element& e, Params& p) {
    using vector::ObjectKind;
    kernel::Buffer<Vertex> points;
    std::uint32_t n = 0;
    if (std::int32_t r = vertex_list(p, e.id == 8 ? 2 : 0, &points, &n); r != RET_SUCCESS) return r;
    if (p.short_read() || p.bad_number()) return RET_FILE_FORMAT;
    if (n == 0) return RET_SUCCESS;
    vector::ObjectDescription d;
    d.points = points.data();
    d.point_count = n;
    return add(e.id == 1   ? ObjectKind::kPolyline
               : e.id == 7 ? ObjectKind::kPolygon
                           : ObjectKind::kPolygonSet,
               d);
  }

  // DISJOINT POLYLINE: one line per pair of points.
  std::int32_t disjoint_polyline(Params& p) {
    kernel::Buffer<Vertex> points;
    std::uint32_t n = 0;
    if (std::int32_t r = vertex_list(p, 0, &points, &n); r != RET_SUCCESS) return r;
    if (p.short_read() || p.bad_number()) return RET_FILE_FORMAT;
    vector::ObjectDescription d;
    for (std::uint32_t i = 0; i + 1 < n; i += 2) {
      d.points = points.data() + i;
      d.point_count = 2;
      if (std::int32_t r = add(vector::ObjectKind::kPolyline, d); r != RET_SUCCESS) return r;
    }
    return RET_SUCCESS;
  }

  // TEXT, or RESTRICTED TEXT, whose box is not kept.
  std::int32_t text(const Element& e, Params& p) {
    if (e.id == 5) {
      p.vdc();
      p.vdc();
    }
    Vertex at = p.point();
    p.enumerated();  // final or not: every piece is drawn where it says
    kernel::Buffer<char> bytes;
    std::uint32_t length = 0;
    if (!p.string(&bytes, &length)) return RET_NO_MEMORY;
    if (p.short_read() || p.bad_number()) return RET_FILE_FORMAT;
    vector::ObjectDescription d;
    d.points = &at;
    d.point_count = 1;
    d.text = bytes.data();
    d.text_length = length;
    return add(vector::ObjectKind::kText, d);
  }

  vector::ArcClosure closure(Params& p) {
    return p.enumerated() == 1 ? vector::ArcClosure::kChord : vector::ArcClosure::kPie;
  }

  std::int32_t arc_through_points(const Element& e, Params& p) {
    vector::ObjectDescription d;
    Vertex v[3];
    for (Vertex& x : v) x = p.point();
    if (e.id == 14) d.closure = closure(p);
    if (p.short_read() || p.bad_number()) return RET_FILE_FORMAT;
    return three_point_arc(v, d);
  }

  // The shapes of a few points and numbers: RECTANGLE, CIRCLE, the centred circular
  // arcs and the ellipses.
  std::int32_t shape(const Element& e, Params& p) {
    using vector::ObjectKind;
    vector::ObjectDescription d;
    Vertex v[3];
    ObjectKind kind = ObjectKind::kRectangle;
    if (e.id == 11) {
      v[0] = p.point();
      v[1] = p.point();
      d.point_count = 2;
    } else if (e.id == 12) {
      kind = circle(p, v, &d);
    } else if (e.id <= 16) {
      kind = centred_arc(e, p, v, &d);
    } else {
      kind = ellipse(e, p, v, &d);
    }
    if (p.short_read() || p.bad_number()) return RET_FILE_FORMAT;
    d.points = v;
    return add(kind, d);
  }

  vector::ObjectKind circle(Params& p, Vertex* v, vector::ObjectDescription* d) {
    v[0] = p.point();
    d->radius = std::fabs(p.vdc());
    d->point_count = 1;
    return vector::ObjectKind::kCircle;
  }

  // CIRCULAR ARC CENTRE and its CLOSE form.
  vector::ObjectKind centred_arc(const Element& e, Params& p, Vertex* v,
                                 vector::ObjectDescription* d) {
    v[0] = p.point();
    d->start = p.direction();
    d->end = p.direction();
    d->radius = std::fabs(p.vdc());
    if (e.id == 16) d->closure = closure(p);
    // Mirroring turns the counter-clockwise sweep clockwise; exchanging the ends
    // gives the same arc counter-clockwise again.
    if (picture_.flip) std::swap(d->start, d->end);
    d->point_count = 1;
    return vector::ObjectKind::kCircularArc;
  }

  // ELLIPSE, ELLIPTICAL ARC and its CLOSE form.
  vector::ObjectKind ellipse(const Element& e, Params& p, Vertex* v, vector::ObjectDescription* d) {
    for (int i = 0; i < 3; ++i) v[i] = p.point();
    if (e.id >= 18) {
      d->start = p.direction();
      d->end = p.direction();
    }
    if (e.id == 19) d->closure = closure(p);
    d->point_count = 3;
    return e.id == 17 ? vector::ObjectKind::kEllipse : vector::ObjectKind::kEllipticalArc;
  }

  // An arc through three points becomes a centred arc; three points on a line become
  // the polyline through them.
  std::int32_t three_point_arc(const Vertex* v, vector::ObjectDescription& d) {
    const double ax = v[0].x, ay = v[0].y, bx = v[1].x, by = v[1].y, cx = v[2].x, cy = v[2].y;
    const double det = 2 * (ax * (by - cy) + bx * (cy - ay) + cx * (ay - by));
    const double scale = std::max({std::fabs(ax), std::fabs(ay), std::fabs(bx), std::fabs(by),
                                   std::fabs(cx), std::fabs(cy), 1.0});
    if (std::fabs(det) <= 1e-12 * scale * scale) {
      d.points = v;
      d.point_count = 3;
      return add(vector::ObjectKind::kPolyline, d);
    }
    const double a2 = ax * ax + ay * ay, b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    Vertex centre;
    centre.x = (a2 * (by - cy) + b2 * (cy - ay) + c2 * (ay - by)) / det;
    centre.y = (a2 * (cx - bx) + b2 * (ax - cx) + c2 * (bx - ax)) / det;
    d.radius = std::hypot(ax - centre.x, ay - centre.y);
    d.start = {ax - centre.x, ay - centre.y};
    d.end = {cx - centre.x, cy - centre.y};
    // A positive det means a counter-clockwise turn a -> b -> c.
    if (det < 0) std::swap(d.start, d.end);
    d.points = &centre;
    d.point_count = 1;
    return add(vector::ObjectKind::kCircularArc, d);
  }

  vector::Drawing* out_;
  MetafileState meta_;
  PictureState defaults_;
  PictureState picture_;
  bool in_defaults_ = false;
  kernel::Buffer<std::uint8_t> scratch_;
};

}  // namespace

int load_vector_from_memory(const void* bytes, vector::Drawing* out, std::uint32_t byte_count,
                            const FltLoadOptions* /*options*/) {
  if (!out) return RET_MISSING_DATA;
  vector::release(out);
  if (!bytes || byte_count < 2) return RET_FILE_FORMAT;
  Loader loader(out);
  const std::int32_t r = loader.run(static_cast<const std::uint8_t*>(bytes), byte_count);
  if (r != RET_SUCCESS) vector::release(out);
  return r;
}

}  // namespace fileformat
