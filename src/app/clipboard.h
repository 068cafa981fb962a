// The system clipboard: images in and out. Nothing here knows the window.
#pragma once

#include <QByteArray>
#include <QString>

#include <kestrune/image.h>

#include "app/dib_image.h"

class QMimeData;

// Puts the picture (its display bytes) on the clipboard as an image, with
// `alpha` (a plane of the picture's size on the 0..255 scale, or null) as
// its transparency. Nothing happens for an empty picture.
void CopyToClipboard(const DibImage& picture, const float* alpha = nullptr);

// What a paste found: the image, or the message to show.
struct PasteOutcome {
  kestrune::Image image;  // empty when nothing could be pasted
  QString message;        // "No bitmap in the clipboard." or the unsupported-format text
};
// Reads the clipboard's bitmap. Throws std::bad_alloc.
PasteOutcome PasteFromClipboard();

// The clipboard's content as a packed device-independent bitmap: a BMP file
// ("image/bmp") without its 14-byte file header, or, when the clipboard holds
// only another image format, that image converted to 32 bits per pixel.
// Empty when there is no image at all.
QByteArray PackedDibFromMimeData(const QMimeData* mime);

inline constexpr char kNoBitmapMessage[] = "No bitmap in the clipboard.";
inline constexpr char kUnsupportedBitmapMessage[] =
    "Unsupported bitmap format in the clipboard.\nOnly 24-bit RGB bitmaps are supported.";
