// The drawing model's operations: pools that grow geometrically up to their caps, the
// object checks that keep non-finite or short geometry out, bounds, translation and
// deep copies.
#include "vector/drawing.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace vector {
namespace {

// Makes room for `extra` more elements, doubling so that a long run of small additions
// costs linear time. False past the cap or when memory is refused; the pool is then
// unchanged.
template <class T>
bool reserve(Pool<T>& pool, std::uint64_t extra, std::uint32_t cap) {
  const std::uint64_t needed = std::uint64_t(pool.count) + extra;
  if (needed > cap) return false;
  if (needed <= pool.items.size()) return true;
  std::uint64_t room = std::max<std::uint64_t>(pool.items.size() * 2, 16);
  room = std::min<std::uint64_t>(std::max(room, needed), cap);
  kernel::Buffer<T> grown;
  if (!grown.allocate(room)) return false;
  if (pool.count) std::memcpy(grown.data(), pool.items.data(), pool.count * sizeof(T));
  pool.items = std::move(grown);
  return true;
}

template <class T>
bool copy_pool(Pool<T>& to, const Pool<T>& from) {
  to.items.reset();
  to.count = 0;
  if (from.count == 0) return true;
  if (!to.items.allocate(from.count)) return false;
  std::memcpy(to.items.data(), from.items.data(), from.count * sizeof(T));
  to.count = from.count;
  return true;
}

template <class T>
void clear(Pool<T>& pool) {
  pool.items.reset();
  pool.count = 0;
}

bool finite(double v) {
  return std::isfinite(v);
}
bool finite(Point2 p) {
  return finite(p.x) && finite(p.y);
}

std::uint32_t minimum_points(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::kPolyline:
    case ObjectKind::kPolygon:
    case ObjectKind::kPolygonSet:
    case ObjectKind::kCircle:
    case ObjectKind::kCircularArc:
    case ObjectKind::kText:
      return 1;
    case ObjectKind::kRectangle:
      return 2;
    case ObjectKind::kEllipse:
    case ObjectKind::kEllipticalArc:
      return 3;
  }
  return 0;  // not a kind
}

struct Box {
  double lx = std::numeric_limits<double>::infinity(), ly = lx;
  double ux = -std::numeric_limits<double>::infinity(), uy = ux;
  bool any = false;
  void add(double x, double y) {
    lx = std::min(lx, x);
    ly = std::min(ly, y);
    ux = std::max(ux, x);
    uy = std::max(uy, y);
    any = true;
  }
};

// Centre c with conjugate half-diameters u, v: c + u cos t + v sin t, whose extent
// along x is hypot(u.x, v.x) and along y hypot(u.y, v.y).
void add_ellipse_box(const Vertex* p, Box* box) {
  const double ux = p[1].x - p[0].x, uy = p[1].y - p[0].y;
  const double vx = p[2].x - p[0].x, vy = p[2].y - p[0].y;
  const double hx = std::hypot(ux, vx), hy = std::hypot(uy, vy);
  box->add(p[0].x - hx, p[0].y - hy);
  box->add(p[0].x + hx, p[0].y + hy);
}

// No font metrics here: an estimate of half the height per character.
void add_text_box(const Object& o, const Vertex* p, Box* box) {
  const Attributes& a = o.attributes;
  const double h = a.character_height;
  const double ul = std::hypot(a.up.x, a.up.y), bl = std::hypot(a.base.x, a.base.y);
  const Point2 up = ul > 0 ? Point2{a.up.x / ul, a.up.y / ul} : Point2{0, 1};
  const Point2 base = bl > 0 ? Point2{a.base.x / bl, a.base.y / bl} : Point2{1, 0};
  const double w = 0.5 * h * o.text_length;
  box->add(p[0].x, p[0].y);
  box->add(p[0].x + up.x * h, p[0].y + up.y * h);
  box->add(p[0].x + base.x * w, p[0].y + base.y * w);
  box->add(p[0].x + base.x * w + up.x * h, p[0].y + base.y * w + up.y * h);
}

void add_object_box(const Drawing& d, const Object& o, Box* box) {
  const Vertex* p = d.points.begin() + o.first_point;
  switch (o.kind) {
    case ObjectKind::kCircle:
    case ObjectKind::kCircularArc: {
      const double r = std::fabs(o.radius);
      box->add(p[0].x - r, p[0].y - r);
      box->add(p[0].x + r, p[0].y + r);
      return;
    }
    case ObjectKind::kEllipse:
    case ObjectKind::kEllipticalArc:
      add_ellipse_box(p, box);
      return;
    case ObjectKind::kText:
      add_text_box(o, p, box);
      return;
    default:
      for (std::uint32_t i = 0; i < o.point_count; ++i) box->add(p[i].x, p[i].y);
      return;
  }
}

// The checks add_object makes before it changes anything: a known kind with enough
// points, and every number finite.
std::int32_t check_description(ObjectKind kind, const ObjectDescription& d) {
  const std::uint32_t need = minimum_points(kind);
  if (need == 0 || d.point_count < need || !d.points) return RET_INVALID_PARAMETER;
  if (d.text_length && !d.text) return RET_INVALID_PARAMETER;
  for (std::uint32_t i = 0; i < d.point_count; ++i)
    if (!finite(d.points[i].x) || !finite(d.points[i].y)) return RET_INVALID_PARAMETER;
  const Attributes& a = d.attributes;
  if (!finite(d.radius) || !finite(d.start) || !finite(d.end) || !finite(a.line_width) ||
      !finite(a.edge_width) || !finite(a.character_height) || !finite(a.up) || !finite(a.base))
    return RET_INVALID_PARAMETER;
  return RET_SUCCESS;
}

// Copies an object's description, points and text into the pools, which have room.
void store_object(Drawing* drawing, ObjectKind kind, const ObjectDescription& d) {
  Object& o = drawing->objects.begin()[drawing->objects.count++];
  o = Object{};
  o.kind = kind;
  o.layer = drawing->active_layer;
  o.first_point = drawing->points.count;
  o.point_count = d.point_count;
  o.radius = d.radius;
  o.start = d.start;
  o.end = d.end;
  o.closure = d.closure;
  o.attributes = d.attributes;
  std::memcpy(drawing->points.begin() + drawing->points.count, d.points,
              d.point_count * sizeof(Vertex));
  drawing->points.count += d.point_count;
  o.text_offset = drawing->text.count;
  o.text_length = d.text_length;
  if (d.text_length)
    std::memcpy(drawing->text.begin() + drawing->text.count, d.text, d.text_length);
  drawing->text.count += d.text_length;
}

}  // namespace

std::int32_t init(Drawing* drawing) {
  if (!drawing) return RET_MISSING_DATA;
  release(drawing);
  drawing->initialised = 1;
  return RET_SUCCESS;
}

std::int32_t is_empty(const Drawing* drawing) {
  if (!drawing) return 1;
  return drawing->layers.count == 0 && drawing->objects.count == 0;
}

std::int32_t release(Drawing* drawing) {
  if (!drawing) return RET_MISSING_DATA;
  clear(drawing->layers);
  clear(drawing->objects);
  clear(drawing->points);
  clear(drawing->text);
  clear(drawing->fonts);
  drawing->active_layer = -1;
  drawing->has_extent = 0;
  drawing->extent_lower = drawing->extent_upper = Point2{};
  return RET_SUCCESS;
}

std::int32_t bounds(const Drawing* drawing, Point3* lower, Point3* upper) {
  if (!drawing || !lower || !upper) return RET_MISSING_DATA;
  Box box;
  for (std::uint32_t i = 0; i < drawing->objects.count; ++i)
    add_object_box(*drawing, drawing->objects.begin()[i], &box);
  *lower = Point3{};
  *upper = Point3{};
  if (!box.any) return RET_FAILURE;
  *lower = Point3{box.lx, box.ly, 0};
  *upper = Point3{box.ux, box.uy, 0};
  return RET_SUCCESS;
}

std::int32_t translate(Drawing* drawing, const Point3* by) {
  if (!drawing || !by) return RET_MISSING_DATA;
  if (!finite(by->x) || !finite(by->y)) return RET_INVALID_PARAMETER;
  for (std::uint32_t i = 0; i < drawing->points.count; ++i) {
    drawing->points.begin()[i].x += by->x;
    drawing->points.begin()[i].y += by->y;
  }
  drawing->extent_lower.x += by->x;
  drawing->extent_lower.y += by->y;
  drawing->extent_upper.x += by->x;
  drawing->extent_upper.y += by->y;
  return RET_SUCCESS;
}

std::int32_t apply(Drawing* drawing) {
  return drawing ? RET_SUCCESS : RET_MISSING_DATA;
}

std::int32_t set_viewport(Drawing* drawing, const std::int32_t rectangle[4]) {
  if (!drawing || !rectangle) return RET_MISSING_DATA;
  std::copy(rectangle, rectangle + 4, drawing->viewport);
  return RET_SUCCESS;
}

std::int32_t set_view_origin(Drawing* drawing, std::int32_t x, std::int32_t y) {
  if (!drawing) return RET_MISSING_DATA;
  drawing->view_origin[0] = x;
  drawing->view_origin[1] = y;
  return RET_SUCCESS;
}

std::int32_t set_view_zoom(Drawing* drawing, std::int32_t zoom) {
  if (!drawing) return RET_MISSING_DATA;
  drawing->view_zoom = zoom;
  return RET_SUCCESS;
}

std::int32_t set_view_rotation(Drawing* drawing, std::int32_t rotation) {
  if (!drawing) return RET_MISSING_DATA;
  drawing->view_rotation = rotation;
  return RET_SUCCESS;
}

std::int32_t add_layer(Drawing* drawing, const LayerDescription* description,
                       std::int32_t* layer_out, std::int32_t /*flags*/) {
  if (!drawing || !description) return RET_MISSING_DATA;
  if (description->size != sizeof(LayerDescription)) return RET_INVALID_PARAMETER;
  if (!reserve(drawing->layers, 1, kMaxLayers)) return RET_NO_MEMORY;
  Layer& layer = drawing->layers.begin()[drawing->layers.count];
  layer = Layer{};
  // The name is kept NUL-terminated whatever the caller left in the last unit.
  for (std::size_t i = 0; i + 1 < kLayerNameRoom && description->name[i]; ++i)
    layer.name[i] = description->name[i];
  const std::int32_t index = std::int32_t(drawing->layers.count++);
  if (description->settings[0]) set_active_layer(drawing, index);
  if (layer_out) *layer_out = index;
  return RET_SUCCESS;
}

std::int32_t set_active_layer(Drawing* drawing, std::int32_t layer) {
  if (!drawing) return RET_MISSING_DATA;
  if (layer < 0 || std::uint32_t(layer) >= drawing->layers.count) return RET_INVALID_PARAMETER;
  for (std::uint32_t i = 0; i < drawing->layers.count; ++i)
    drawing->layers.begin()[i].active = std::int32_t(i) == layer;
  drawing->active_layer = layer;
  return RET_SUCCESS;
}

void init_object_description(ObjectDescription* description) {
  if (description) *description = ObjectDescription{};
}

std::int32_t add_object(Drawing* drawing, std::int32_t /*reserved*/, ObjectKind kind,
                        const ObjectDescription* description, std::int32_t /*flags*/) {
  if (!drawing || !description) return RET_MISSING_DATA;
  if (std::int32_t r = check_description(kind, *description); r != RET_SUCCESS) return r;
  if (drawing->active_layer < 0) {
    LayerDescription first;
    static constexpr char16_t kName[] = u"Layer 1";
    std::copy(std::begin(kName), std::end(kName), first.name);
    if (std::int32_t r = add_layer(drawing, &first, nullptr, 0); r != RET_SUCCESS) return r;
  }
  // All three pools are reserved before anything is written, so a refusal leaves the
  // drawing as it was.
  if (!reserve(drawing->objects, 1, kMaxObjects) ||
      !reserve(drawing->points, description->point_count, kMaxPoints) ||
      !reserve(drawing->text, description->text_length, kMaxTextBytes))
    return RET_NO_MEMORY;
  store_object(drawing, kind, *description);
  return RET_SUCCESS;
}

std::int32_t add_font(Drawing* drawing, const char* name, std::uint32_t length,
                      std::int32_t* index_out) {
  if (!drawing || (!name && length)) return RET_MISSING_DATA;
  if (!reserve(drawing->fonts, 1, kMaxFonts)) return RET_NO_MEMORY;
  FontName& f = drawing->fonts.begin()[drawing->fonts.count];
  f = FontName{};
  std::memcpy(f.name, name, std::min<std::size_t>(length, kFontNameRoom - 1));
  const std::int32_t index = std::int32_t(drawing->fonts.count++);
  if (index_out) *index_out = index;
  return RET_SUCCESS;
}

const char* font_name(const Drawing& drawing, const Attributes& attributes) {
  if (attributes.font < 0 || std::uint32_t(attributes.font) >= drawing.fonts.count) return "";
  return drawing.fonts.begin()[attributes.font].name;
}

std::int32_t copy(Drawing* destination, const Drawing* source, std::int32_t /*flags*/) {
  if (!destination || !source) return RET_MISSING_DATA;
  if (destination == source) return RET_SUCCESS;
  release(destination);
  if (!copy_pool(destination->layers, source->layers) ||
      !copy_pool(destination->objects, source->objects) ||
      !copy_pool(destination->points, source->points) ||
      !copy_pool(destination->text, source->text) ||
      !copy_pool(destination->fonts, source->fonts)) {
    release(destination);
    return RET_NO_MEMORY;
  }
  destination->initialised = source->initialised;
  destination->active_layer = source->active_layer;
  destination->has_extent = source->has_extent;
  destination->extent_lower = source->extent_lower;
  destination->extent_upper = source->extent_upper;
  std::copy(source->viewport, source->viewport + 4, destination->viewport);
  std::copy(source->view_origin, source->view_origin + 2, destination->view_origin);
  destination->view_zoom = source->view_zoom;
  destination->view_rotation = source->view_rotation;
  return RET_SUCCESS;
}

}  // namespace vector
