// The program as started from the command line: `kestrune FILE` opens FILE,
// and the hidden screenshot walk runs through every dialog and an upscaling
// run, then quits.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app_test_support.h"

class StartupTest : public QObject {
  Q_OBJECT
 private slots:
  void opensFileNamedOnCommandLine() {
    QTemporaryDir dir;
    QVERIFY(!WriteFile(dir, QStringLiteral("start.bmp"), PatternBmp(24, 16, 24)).isEmpty());
    const QString shots = dir.filePath(QStringLiteral("shots"));
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(dir.path());
    // A relative name is taken from the working folder.
    program.start(QStringLiteral(KESTRUNE_APP_PATH),
                  {QStringLiteral("--screenshots"), shots, QStringLiteral("start.bmp")});
    QVERIFY(program.waitForFinished(300000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    for (const char* name : {"main.png", "settings-upscale.png", "settings-downscale.png", "about.png", "result.png"})
      QVERIFY2(QFile::exists(QDir(shots).filePath(QString::fromLatin1(name))), name);
    // The opened picture sits 1:1 at the left edge, right below the menu bar.
    const QImage main(QDir(shots).filePath(QStringLiteral("main.png")));
    bool found = false;
    for (int top = 0; top + 16 <= main.height() && !found; ++top) {
      found = true;
      for (int y = 0; y < 16 && found; y += 5)
        for (int x = 0; x < 24 && found; x += 3)
          found = main.pixelColor(x, top + y) == PatternColor(x, y);
    }
    QVERIFY(found);
    // The walk's upscaling run doubles the picture.
    const QImage result(QDir(shots).filePath(QStringLiteral("result.png")));
    QVERIFY(result.width() >= 48);
  }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "startup_test.moc"
