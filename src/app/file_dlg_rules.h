// The file dialogs' rules that need no dialog on screen: the recent folders
// kept in the profile, the preview's size, pixels and texts, the save
// dialog's file-type change, and the "|"-separated filter strings.
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>

#include <kestrune/image.h>

#include "app/dib_image.h"

// Number of recent folders kept ("Dir0" .. "Dir9" of "MRU folders").
inline constexpr int kRecentFolderCount = 10;

// The non-empty values of Dir0..Dir9, in that order.
QStringList ReadRecentFolders();
// Dir0, or empty: the folder a file dialog starts in.
QString ReadInitialFolder();
// The open dialog's "Preview" flag (default on) and its storing.
bool ReadPreviewFlag();
void WritePreviewFlag(bool showPreview);

// The folder of a chosen file as remembered: the part before the last "/",
// ending in "/" ("/img/x.bmp" gives "/img/", "/x.bmp" gives "/"); empty
// when the path has no "/".
QString FolderOfPath(const QString& path);

// Makes `folder` the most recent folder. `boxItems` are the folders the
// dialog's box was filled with; an item equal to `folder` apart from letter
// case is dropped, the remaining ones (nine at most) move to Dir1, Dir2, ...,
// and `folder` (when not empty) goes to Dir0.
void RememberFolder(QStringList boxItems, const QString& folder);

// The preview's size for a w x h image in a box of boxWidth x boxHeight:
// the largest fit keeping the aspect ratio, never larger than the image.
// Empty when the image or the box is empty.
QSize FitPreview(int boxWidth, int boxHeight, uint32_t w, uint32_t h);

// Reduces `image` to width x height by averaging the source pixels each
// output pixel covers (rounded to the nearest byte) into `preview`.
void BoxAveragePreview(const kestrune::Image& image, uint32_t width, uint32_t height, DibImage& preview);

// The preview's two label texts after reading a file: "Dimensions: WxH" and
// "Bit depth: N bits" (BMP files), otherwise the "N/A" forms.
struct PreviewTexts {
  QString dimensions;
  QString bitDepth;
};
PreviewTexts PreviewTextsFor(bool readOk, const kestrune::Image& image);

// The save dialog's file-type change: `name` (as typed) with its extension
// replaced by, or given, the extension of type `typeIndex` (counted from 1)
// of the "|"-separated `filter`. "photo.png" and "photo" both give
// "photo.bmp" for a "*.bmp" type.
QString ChangeTypeExtension(const QString& name, const QString& filter, int typeIndex);

// A "|"-separated filter ("Bitmap files (*.bmp)|*.bmp|...|") as Qt name
// filters: "Bitmap files (*.bmp)", "All supported files (*.bmp *.png)",
// "All files (*)".
QStringList QtNameFilters(const QString& filter);
