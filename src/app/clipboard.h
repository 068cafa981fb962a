// Copy and Paste of the main window through the system clipboard.
#pragma once

#include <QByteArray>

class CKestruneDlg;
class QMimeData;

// Puts exactly what the window shows (currentImage through the display
// buffer) on the clipboard as an image. Nothing happens without an image.
void CopyToClipboard(CKestruneDlg& window);

// Replaces currentImage by the clipboard's bitmap, fits the window and takes
// the image as the one "Undo all" returns to. Shows "No bitmap in the
// clipboard." or the unsupported-format message and returns false when there
// is nothing it can read.
bool PasteFromClipboard(CKestruneDlg& window);

// The clipboard's content as a packed device-independent bitmap: a BMP file
// ("image/bmp") without its 14-byte file header, or, when the clipboard holds
// only another image format, that image converted to 32 bits per pixel.
// Empty when there is no image at all.
QByteArray PackedDibFromMimeData(const QMimeData* mime);
