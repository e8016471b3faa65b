// Vector painting: draws every object of a drawing onto the bitmap of a drawing
// context through Cairo, antialiased, so that graphic segments land on the
// composition canvas beside the image segments.
//
// Geometry: one world unit is one canvas pixel; a world point (x, y) falls on the
// canvas pixel whose column is origin_column + x and whose row is origin_row - y (the
// pixel's centre, so a one-unit horizontal line covers exactly one row). A context with
// a scale (DrawingContext::scale_x, scale_y) multiplies those positions, line widths
// and character heights by it. Line widths
// are centred on the ideal geometry. Everything is clipped to the context's clip and to
// the canvas; coordinates far outside it are painted as far as they are visible, never
// by walking their whole extent.
#pragma once

#include <cstdint>

#include "kernel/dc.h"
#include "vector/drawing.h"

namespace vector {

// Paints `drawing` over what the canvas already shows (the caller has filled it with
// `background`, 0x00BBGGRR, which is where a hollow or empty interior lets it through).
// Returns RET_SUCCESS (also when nothing is visible); RET_INVALID_PARAMETER without a
// context or for an origin that is not finite; RET_INVALID_BITMAP for a canvas without
// data holding its geometry; RET_NOT_SUPPORTED for canvases other than 24 or 32 bits;
// RET_NO_MEMORY when the scratch surface is refused.
int paint_drawing(kernel::DrawingContext* dc, const vector::Drawing& drawing, double origin_row,
                  double origin_column, std::uint32_t background);

}  // namespace vector
