// The imaging kernel: the base services every part of the module stands on.
// Memory with object tracking, files, name conversion, the message and debug sinks,
// bitmaps, palettes and the drawing contexts that paint into bitmaps.
#pragma once

#include "kernel/bitmap.h"
#include "kernel/dc.h"
#include "kernel/file.h"
#include "kernel/memory.h"
#include "kernel/palette.h"
#include "kernel/sinks.h"
#include "kernel/strings.h"
