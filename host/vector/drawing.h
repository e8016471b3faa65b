// The vector library's drawing model: what a CGM graphic segment becomes once loaded,
// and what an appended graphic is built from.
//
// A Drawing holds layers (a name and an active flag) and objects (polylines, polygons,
// polygon sets, rectangles, circles, circular and elliptical arcs, ellipses, text) with
// their attributes. Positions are world coordinates as doubles, y growing upward. All
// storage comes from the kernel allocator in four pools (objects, positions, text
// bytes, font names), so a drawing is released, copied and translated as a whole.
// Every pool has a fixed cap (below), far above what the largest NITF graphic segment
// (999,999 bytes) can describe and far below what would exhaust memory: a hostile file
// gets RET_NO_MEMORY, never an unbounded allocation.
#pragma once

#include <cstddef>
#include <cstdint>

#include <kvntfu.h>

#include "kernel/memory.h"

namespace vector {

// Caps over one drawing. 2^21 positions of 24 bytes is 48 MiB; a 16-bit CGM point
// takes 4 bytes, so a full-size segment holds at most 250,000 of them.
inline constexpr std::uint32_t kMaxObjects = 1u << 18;
inline constexpr std::uint32_t kMaxPoints = 1u << 21;
inline constexpr std::uint32_t kMaxTextBytes = 1u << 22;
inline constexpr std::uint32_t kMaxLayers = 4096;
inline constexpr std::uint32_t kMaxFonts = 256;
inline constexpr std::size_t kFontNameRoom = 64;   // bytes with the NUL
inline constexpr std::size_t kLayerNameRoom = 64;  // UTF-16 units with the NUL

// The values are the object kinds of the add-object call: 2 line, 3 rectangle,
// 6 polygon, 7 ellipse; the others are this library's own.
enum class ObjectKind : std::int32_t {
  kPolyline = 2,
  kRectangle = 3,
  kPolygon = 6,
  kEllipse = 7,
  kPolygonSet = 8,
  kCircle = 9,
  kCircularArc = 10,
  kEllipticalArc = 11,
  kText = 12,
};

// How an arc is closed: open, through the centre (pie) or by its chord.
enum class ArcClosure : std::int32_t { kOpen = -1, kPie = 0, kChord = 1 };

// Interior styles as CGM numbers them.
enum class InteriorStyle : std::int32_t {
  kHollow = 0,
  kSolid = 1,
  kPattern = 2,
  kHatch = 3,
  kEmpty = 4
};

struct Point2 {
  double x = 0, y = 0;
};
struct Point3 {
  double x = 0, y = 0, z = 0;
};

// One position. `edge` is the CGM edge-out flag of a polygon-set vertex (0 invisible,
// 1 visible, 2 close invisible, 3 close visible) and 0 elsewhere.
struct Vertex {
  double x = 0, y = 0;
  std::int32_t edge = 0;
};

// Colours are 0x00BBGGRR. Widths and the character height are in world units.
struct Attributes {
  std::int32_t line_type = 1;  // 1 solid, 2 dash, 3 dot, 4 dash-dot, 5 dash-dot-dot
  // Width modes as CGM has them: 0 absolute (world units), 1 scaled (a multiple of the
  // painter's nominal one-pixel line); other values as read.
  std::int32_t line_width_mode = 1, edge_width_mode = 1;
  double line_width = 1;
  std::uint32_t line_colour = 0;
  std::int32_t edge_type = 1;
  double edge_width = 1;
  std::uint32_t edge_colour = 0;
  std::int32_t edge_visible = 0;
  std::uint32_t fill_colour = 0;
  InteriorStyle interior_style = InteriorStyle::kHollow;
  std::int32_t hatch_index = 1;
  std::uint32_t text_colour = 0;
  std::int32_t font = -1;  // index into the drawing's font table, -1 for none
  double character_height = 1;
  Point2 up{0, 1};    // character up vector
  Point2 base{1, 0};  // character base vector
};

// What add_object takes. Points by kind: polyline, polygon and polygon set their
// vertices; rectangle two corners; circle and circular arc the centre; ellipse and
// elliptical arc the centre and the ends of the two conjugate diameters; text its
// position. A circular arc runs counter-clockwise (in world coordinates) from the
// direction `start` to the direction `end`; an elliptical arc from `start` to `end` in
// the sense that leads from the first conjugate diameter's end to the second's.
struct ObjectDescription {
  Attributes attributes;
  const Vertex* points = nullptr;
  std::uint32_t point_count = 0;
  double radius = 0;
  Point2 start, end;
  ArcClosure closure = ArcClosure::kOpen;
  const char* text = nullptr;
  std::uint32_t text_length = 0;
};

// An object as stored: its points and text are ranges of the drawing's pools.
struct Object {
  ObjectKind kind = ObjectKind::kPolyline;
  std::int32_t layer = 0;
  std::uint32_t first_point = 0, point_count = 0;
  double radius = 0;
  Point2 start, end;
  ArcClosure closure = ArcClosure::kOpen;
  std::uint32_t text_offset = 0, text_length = 0;
  Attributes attributes;
};

// The layer description of add_layer: 144 bytes, its size first.
struct LayerDescription {
  std::uint32_t size = sizeof(LayerDescription);
  char16_t name[kLayerNameRoom] = {};
  std::int32_t settings[3] = {1, 0, 0};  // the first non-zero makes the layer active
};
static_assert(sizeof(LayerDescription) == 144);

struct Layer {
  char16_t name[kLayerNameRoom] = {};
  std::int32_t active = 0;
};

struct FontName {
  char name[kFontNameRoom] = {};
};

// A grown-on-demand pool of trivially copyable elements.
template <class T>
struct Pool {
  kernel::Buffer<T> items;
  std::uint32_t count = 0;
  T* begin() { return items.data(); }
  const T* begin() const { return items.data(); }
};

struct Drawing {
  // Two settings the document stores around init (0x2002 before, 0x8000 after); kept
  // for the painter, untouched by every operation here.
  std::uint32_t setting_first = 0, setting_second = 0;
  std::int32_t initialised = 0;
  std::int32_t active_layer = -1;
  Pool<Layer> layers;
  Pool<Object> objects;
  Pool<Vertex> points;
  Pool<char> text;
  Pool<FontName> fonts;
  // The picture's extent in world coordinates when the source declared one.
  std::int32_t has_extent = 0;
  Point2 extent_lower, extent_upper;
  // Where an application shows the drawing (left, top, right, bottom) and its view
  // settings: kept for it, not used by the painter, which places by world coordinates.
  std::int32_t viewport[4] = {};
  std::int32_t view_origin[2] = {}, view_zoom = 0, view_rotation = 0;
};

// Makes `drawing` an empty drawing (releasing what it held). 1, or RET_MISSING_DATA.
std::int32_t init(Drawing* drawing);
// Non-zero when the drawing holds no layer and no object (also for no drawing).
std::int32_t is_empty(const Drawing* drawing);
// Frees everything the drawing holds; it stays usable as an empty drawing.
std::int32_t release(Drawing* drawing);
// The corners of the box around every object (and the declared extent is not used):
// 1, or RET_FAILURE with both corners 0 when no object has a position. z is 0. Arcs
// count with their whole circle or ellipse; text with its anchor, its height along the
// up vector and half the height per character along the base vector.
std::int32_t bounds(const Drawing* drawing, Point3* lower, Point3* upper);
// Moves every position (and the extent) by (x, y); z is ignored.
std::int32_t translate(Drawing* drawing, const Point3* by);
// Positions change at once in translate; apply only confirms it. 1, or RET_MISSING_DATA.
std::int32_t apply(Drawing* drawing);
// Keep the viewport rectangle (left, top, right, bottom) and the three view settings.
std::int32_t set_viewport(Drawing* drawing, const std::int32_t rectangle[4]);
std::int32_t set_view_origin(Drawing* drawing, std::int32_t x, std::int32_t y);
std::int32_t set_view_zoom(Drawing* drawing, std::int32_t zoom);
std::int32_t set_view_rotation(Drawing* drawing, std::int32_t rotation);
// Appends a layer; its index is put in `layer_out` (when given). `flags` is unused.
// RET_INVALID_PARAMETER for a description of another size, RET_NO_MEMORY past the cap.
std::int32_t add_layer(Drawing* drawing, const LayerDescription* description,
                       std::int32_t* layer_out, std::int32_t flags);
// Makes one layer the active one (the others inactive): new objects go there.
std::int32_t set_active_layer(Drawing* drawing, std::int32_t layer);
void init_object_description(ObjectDescription* description);
// Adds an object to the active layer (a first layer is made when there is none).
// RET_INVALID_PARAMETER for too few points for the kind, a coordinate that is not
// finite or an unknown kind; RET_NO_MEMORY past a cap. `reserved` and `flags` unused.
std::int32_t add_object(Drawing* drawing, std::int32_t reserved, ObjectKind kind,
                        const ObjectDescription* description, std::int32_t flags);
// Appends a font name (cut to 63 bytes) to the font table; its index in `index_out`.
std::int32_t add_font(Drawing* drawing, const char* name, std::uint32_t length,
                      std::int32_t* index_out);
// The font name of an object's attributes, "" for none.
const char* font_name(const Drawing& drawing, const Attributes& attributes);
// Replaces `destination` by a deep copy of `source`. `flags` is unused.
std::int32_t copy(Drawing* destination, const Drawing* source, std::int32_t flags);

}  // namespace vector
