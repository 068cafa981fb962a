// `kestrune FILE` opens FILE; the screenshot walk runs every dialog and a run.

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
    program.setWorkingDirectory(dir.path());  // a relative name is taken from the working folder
    program.start(QStringLiteral(KESTRUNE_APP_PATH), {QStringLiteral("--screenshots"), shots, "start.bmp"});
    QVERIFY(program.waitForFinished(300000));
    QCOMPARE(std::pair(program.exitStatus(), program.exitCode()), std::pair(QProcess::NormalExit, 0));
    for (const char* name : {"settings-upscale.png", "settings-downscale.png", "about.png"})
      QVERIFY2(QFile::exists(QDir(shots).filePath(QString::fromLatin1(name))), name);
    // The opened picture sits 1:1 at the left edge, right below the menu bar.
    const QImage main(QDir(shots).filePath(QStringLiteral("main.png")));
    bool found = false;
    for (int top = 0; top + 16 <= main.height() && !found; ++top) {
      found = true;
      for (int y = 0; y < 16 && found; y += 5)
        for (int x = 0; x < 24 && found; x += 3) found = main.pixelColor(x, top + y) == PatternColor(x, y);
    }
    QVERIFY(found);
    QVERIFY(QImage(QDir(shots).filePath(QStringLiteral("result.png"))).width() >= 48);  // the run doubles it
  }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "startup_test.moc"
