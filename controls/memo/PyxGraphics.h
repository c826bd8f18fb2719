// The memo's drawing vocabulary: the host library's colours, fonts, rectangles and points
// (host/Graphics.h), which the painter (PyxMemoPainter.h) and the Qt edge (PyxQtGraphics.h) turn
// into Qt objects.
#pragma once
#include "host/Graphics.h"
