// Start-up of the desktop program.
#include "app/kestrune_app.h"

#include <QCommandLineParser>
#include <QDir>

#include "app/kestrune_dlg.h"
#include "app/screenshot_tour.h"

CKestruneApp::CKestruneApp(int& argc, char** argv) : QApplication(argc, argv) {
  SetProfileLocation();
  setApplicationVersion(QStringLiteral("1.2"));
  setWindowIcon(QIcon(QStringLiteral(":/kestrune.png")));
}

void CKestruneApp::SetProfileLocation() {
  QCoreApplication::setOrganizationName(QStringLiteral("Kestrune"));
  QCoreApplication::setApplicationName(QStringLiteral("Kestrune"));
}

bool CKestruneApp::InitInstance() {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Kestrune: enlarges images by two and reduces them crisply."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("Image file to open (BMP, PNG or JPEG)."),
                               QStringLiteral("[file]"));
  // Test-only: saves pictures of the window and each dialog, then quits.
  QCommandLineOption tour(QStringLiteral("screenshots"), QStringLiteral("Save screenshots into <dir> and quit."),
                          QStringLiteral("dir"));
  tour.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOption(tour);
  parser.process(*this);

  CKestruneDlg window;
  window.show();
  if (!parser.positionalArguments().isEmpty())
    window.LoadImageFile(QDir::current().absoluteFilePath(parser.positionalArguments().first()));
  if (parser.isSet(tour)) StartScreenshotTour(window, parser.value(tour));
  exec();
  return false;
}
