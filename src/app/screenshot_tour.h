// A scripted walk through the program that saves pictures of the main
// window and of each dialog as PNG files (started by a hidden command-line
// option; used to look at the program without clicking through it).
#pragma once

#include <QString>

class CKestruneDlg;

// Starts the walk once the event loop runs; quits the application at its end.
void StartScreenshotTour(CKestruneDlg& window, const QString& directory);
