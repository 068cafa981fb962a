// CKestruneApp: the application. It sets up the profile location, then runs
// the main window until it closes.
#pragma once

#include <QApplication>
#include <QString>

class CKestruneApp : public QApplication {
  Q_OBJECT
 public:
  CKestruneApp(int& argc, char** argv);

  // Runs the program: the main window, with the file named on the command
  // line opened. Returns false when the window has closed: the program ends.
  bool InitInstance();

  // Application name and organisation that place the profile (QSettings) in
  // the user's configuration folder.
  static void SetProfileLocation();
};
