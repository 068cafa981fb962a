// Showing a DibImage with Qt: the picture as a QImage, and Draw, which paints
// it at 1:1 in device pixels.
#pragma once

#include <QImage>

#include "app/dib_image.h"

class QPainter;

// A copy of the buffer as a top-down 24-bit image; null for an empty buffer.
QImage DibToQImage(const DibImage& dib);
// The same as a 32-bit image (0xffRRGGBB), the form the screen draws fastest;
// null for an empty buffer or when memory is short.
QImage DibToScreenImage(const DibImage& dib);

// Paints the whole buffer with its top-left corner at (x, y), one buffer
// pixel per device pixel whatever the painter's device pixel ratio.
void Draw(const DibImage& dib, QPainter& painter, int x, int y);
