// Choosing files for "Open...", "Load from file" and "Save As..." through
// the dialogs with recent folders (and, for opening, a preview). Tests
// replace the dialogs by a handler that answers at once.
#pragma once

#include <QString>

#include <functional>

class QWidget;

enum class FileDialogKind { kOpen, kSave };

// The open dialog: "All images" (every format the library reads) first.
// Returns the chosen path, empty when cancelled.
QString ChooseFileToOpen(QWidget* parent);
// The save dialog proposing `fileName`: "Bitmap Files (*.bmp)" first and the
// default, PNG, JPEG, TIFF and WebP beside it; the proposed name's own type
// is chosen when it is one of them. A name without extension gets the chosen
// type's. Returns the path, empty when cancelled.
QString ChooseFileToSave(QWidget* parent, const QString& fileName);

// The dialogs' file types, "|"-separated, in the order shown.
QString OpenFilter();
QString SaveFilter();

using FileDialogHandler = std::function<QString(FileDialogKind kind, const QString& proposedName)>;
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);
