// The open and save dialogs and the recent files list.

#include <vector>

#include "app/bitmap_file_dlg.h"
#include "app/file_dlg_rules.h"
#include "app/kestrune_app.h"
#include "app_test_support.h"

namespace {
QStringList Folders(const QStringList& set = {}) {
  const QString key = QStringLiteral("MRU folders/Dir%1");
  for (int i = 0; i < set.size(); ++i) SetProfileValue(key.arg(i), set[i]);
  QStringList folders;
  for (int i = 0; i < 10; ++i)
    if (const QString folder = ProfileValue(key.arg(i)).toString(); !folder.isEmpty()) folders << folder;
  return folders;
}

std::unique_ptr<CBitmapFileDlg> OpenDialog() {
  return std::make_unique<CBitmapFileDlg>(true, QString(), QString(), OpenFilter(), nullptr);
}

// "id text" of each recent file item of the window's File menu, in order.
QStringList RecentItems(QMainWindow& window) {
  QStringList items;
  for (QAction* action : window.menuBar()->actions().first()->menu()->actions())
    if (const int id = action->data().toInt(); id >= 2377 && id <= 2386)
      items << QStringLiteral("%1 %2").arg(id).arg(action->text());
  return items;
}

}  // namespace

class FileDialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { CKestruneApp::SetProfileLocation(); }
  void init() { ClearProfile(); }

  // A chosen file's folder goes on top (other letter case replacing it), ten
  // kept; the preview flag is remembered; a dialog starts in the top one.
  void recentFoldersAndPreviewFlag() {
    {
      auto open = OpenDialog();
      QVERIFY(open->recentFolders->count() == 0 && open->initialFolder.isEmpty());
      QVERIFY(open->previewCheck->isChecked() && open->dimensionsLabel->isEnabled());
      QCOMPARE(open->recentFoldersLabel->text(), QStringLiteral("Recent folders:"));
    }
    Folders({"/home/u/Img/", "/tmp/"});
    {
      auto open = OpenDialog();
      QVERIFY(open->recentFolders->currentText() == "/home/u/Img/" && open->initialFolder == "/home/u/Img/");
      open->OnFileNameOK(QStringLiteral("/home/u/img/p.png"));
    }
    QCOMPARE(Folders(), (QStringList{"/home/u/img/", "/tmp/"}));
    const std::pair<const char*, QStringList> saves[] = {{"/x.bmp", {"/", "/home/u/img/", "/tmp/"}},
                                                         {"/tmp/out/y.bmp",
                                                          {"/tmp/out/", "/", "/home/u/img/", "/tmp/"}},
                                                         {"/TMP/z.bmp", {"/TMP/", "/tmp/out/", "/", "/home/u/img/"}}};
    for (const auto& [path, expected] : saves) {
      CXDlg2(false, QStringLiteral("bmp"), QString(), SaveFilter(), nullptr).OnFileNameOK(QString::fromLatin1(path));
      QCOMPARE(Folders(), expected);
    }

    QStringList ten;
    for (int i = 0; i < 10; ++i) ten << QStringLiteral("/f%1/").arg(i);
    Folders(ten);
    {
      auto open = OpenDialog();
      QCOMPARE(open->recentFolders->count(), 10);
      open->previewCheck->setChecked(false);
      open->OnFileNameOK(QStringLiteral("/new/a.jpg"));
    }
    QCOMPARE(Folders(), QStringList{"/new/"} + ten.mid(0, 9));
    auto again = OpenDialog();
    QVERIFY(!again->previewCheck->isChecked() && !again->bitDepthLabel->isEnabled());

    // Choosing a recent folder goes there and empties the name.
    QTemporaryDir first, second;
    Folders({first.path() + '/', second.path() + '/'});
    CXDlg2 save(false, QStringLiteral("bmp"), QStringLiteral("photo.bmp"), SaveFilter(), nullptr);
    QCOMPARE(QDir(save.directory()), QDir(first.path()));
    QLineEdit* name = save.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QCOMPARE(name->text(), QStringLiteral("photo.bmp"));
    save.recentFolders->setCurrentIndex(1);
    emit save.recentFolders->activated(1);
    QCOMPARE(QDir(save.directory()), QDir(second.path()));
    QCOMPARE(name->text(), QString());
  }

  // Box averaging, rounded half up; a cell covering nothing is black: 4 x 1
  // into 2 x 2 averages columns 0-1 and 2-3 of row 0 into the top row.
  void previewPixels() {
    kestrune::Image image(4, 1);
    const float samples[3][4] = {{0, 11, 20, 30}, {200, 201, 255, 255}, {1, 2, 3, 6}};
    for (int c = 0; c < 3; ++c) std::copy_n(samples[c], 4, image.Plane(c));
    DibImage dib;
    BoxAveragePreview(image, 2, 2, dib);
    QStringList pixels;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) {
        const uint8_t* p = dib.rows()[y] + 3 * x;
        pixels << QStringLiteral("%1,%2,%3").arg(p[2]).arg(p[1]).arg(p[0]);
      }
    QCOMPARE(pixels, (QStringList{"6,201,2", "25,255,5", "0,0,0", "0,0,0"}));
  }

  // Texts per file; the place centred on the combo box and on the bit-depth
  // label's top; turned off, nothing is read.
  void preview() {
    QTemporaryDir dir;
    const QString bmp = WriteFile(dir, QStringLiteral("p.bmp"), PatternBmp(8, 6, 24));
    const std::tuple<QString, const char*, const char*> cases[] = {
        {bmp, "Dimensions: 8x6", "Bit depth: 24 bits"},
        {WriteImageFile(dir, QStringLiteral("p.png"), PatternImage(7, 3)), "Dimensions: 7x3", "Bit depth: N/A"},
        {WriteFile(dir, QStringLiteral("notes.txt"), "not a picture"), "Dimensions: N/A", "Bit depth: N/A"},
        {dir.path(), "Dimensions: N/A", "Bit depth: N/A"}};
    auto open = OpenDialog();
    for (const auto& [path, dimensions, bitDepth] : cases) {
      open->OnSelChange(path);
      QCOMPARE(open->dimensionsLabel->text(), QString::fromLatin1(dimensions));
      QCOMPARE(open->bitDepthLabel->text(), QString::fromLatin1(bitDepth));
      QCOMPARE(open->previewImage.IsEmpty(), QByteArray(dimensions).endsWith("N/A"));
    }

    open->recentFolders->setGeometry(20, 0, 320, 24);  // a box of 240 x 120
    open->bitDepthLabel->move(30, 100);
    open->previewImage = PatternImage(4000, 100);
    QCOMPARE(open->PreviewRect(), QRect(60, 97, 240, 6));
    open->previewImage = PatternImage(50, 41);  // not enlarged
    QCOMPARE(open->PreviewRect(), QRect(155, 80, 50, 41));
    open->previewImage = PatternImage(100, 4000);  // 120 x 100 / 4000 + 0.5 = 3.5
    QCOMPARE(open->PreviewRect(), QRect(178, 40, 3, 120));

    open->previewCheck->setChecked(false);
    open->OnSelChange(bmp);
    QCOMPARE(open->dimensionsLabel->text(), QStringLiteral("Dimensions:"));
    QVERIFY(!open->dimensionsLabel->isEnabled() && open->PreviewRect().isEmpty());
    open->previewCheck->setChecked(true);
    open->OnSelChange(bmp);
    QVERIFY(HasPattern(open->previewImage, 8, 6));
    QCOMPARE(open->PreviewRect(), QRect(176, 97, 8, 6));
    open->done(QDialog::Rejected);  // lets the image go
    QVERIFY(open->previewImage.IsEmpty());
  }

  // The type change gives the name the type's (first) extension.
  void saveExtensionRule() {
    const QString filter = SaveFilter();
    const std::tuple<const char*, QString, int, const char*> cases[] = {
        {"photo", filter, 1, "photo.bmp"}, {"photo.bmp", filter, 2, "photo.png"},
        {"a.b.png", filter, 1, "a.b.bmp"}, {"my.pics/photo", filter, 1, "my.pics/photo.bmp"},
        {"x.png", OpenFilter(), 7, "x."},  {"x.png", OpenFilter(), 1, "x.bmp"}};
    for (const auto& [name, types, index, expected] : cases)
      QCOMPARE(ChangeTypeExtension(QString::fromLatin1(name), types, index), QString::fromLatin1(expected));

    CXDlg2 save(false, QStringLiteral("bmp"), QStringLiteral("photo.png"), filter, nullptr);
    QCOMPARE(save.nameFilters().first(), QStringLiteral("Bitmap Files (*.bmp)"));
    QLineEdit* name = save.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    save.OnTypeChange(1);
    QCOMPARE(name->text(), QStringLiteral("photo.bmp"));
    name->setText(QStringLiteral("photo"));
    auto* types = save.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    types->setCurrentIndex(1);  // as when the user picks "PNG Files"
    emit types->activated(1);
    emit types->textActivated(types->itemText(1));
    QCOMPARE(name->text(), QStringLiteral("photo.png"));
    QCOMPARE(save.defaultSuffix(), QStringLiteral("png"));
  }

  // Newest first, ten at most, letter case counts; an empty slot ends the
  // menu but is kept; a file gone stays; written when the window goes.
  void recentFiles() {
    QTemporaryDir dir;
    const QString good = WriteFile(dir, QStringLiteral("good.bmp"), PatternBmp(5, 4, 24));
    const QString gone = dir.filePath(QStringLiteral("gone.bmp"));
    MessageRecorder messages;
    {
      CKestruneDlg window;
      MRUList& list = window.recentFiles;
      QCOMPARE(RecentItems(window), QStringList());
      for (const char* path : {"/img/a.png", "/img/a.png", "", "/img/A.png", "/r&d.png"})
        list.Add(QString::fromLatin1(path));
      QCOMPARE(RecentItems(window), (QStringList{"2377 1. r&&d.png", "2378 2. A.png", "2379 3. a.png"}));
      QCOMPARE(window.menuBar()->actions().first()->menu()->actions()[3]->text(), QStringLiteral("1. r&&d.png"));
      for (int i = 0; i <= 10; ++i) list.Add(QStringLiteral("/photos/f%1.png").arg(i));
      list.Select(2);   // moves to the front
      list.Select(10);  // no such entry
      QCOMPARE(RecentItems(window).size(), 10);
      QCOMPARE(RecentItems(window).mid(0, 3), (QStringList{"2377 1. f8.png", "2378 2. f10.png", "2379 3. f9.png"}));
      QCOMPARE(RecentItems(window).last(), QStringLiteral("2386 10. f1.png"));
      QVERIFY(!ProfileValue("MRUfiles/File0").isValid());  // nothing written yet
    }
    QCOMPARE(ProfileValue("MRUfiles/File9").toString(), QStringLiteral("/photos/f1.png"));
    QVERIFY(!ProfileValue("MRUfiles/File10").isValid());

    ClearProfile();
    SetProfileValue("MRUfiles/File0", good);
    SetProfileValue("MRUfiles/File1", gone);
    SetProfileValue("MRUfiles/File3", "/b/y.jpg");
    {
      CKestruneDlg window;
      QCOMPARE(RecentItems(window), (QStringList{"2377 1. good.bmp", "2378 2. gone.bmp"}));
      window.Command(2378)->trigger();
      QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Error loading image: ") + gone +
                                             "\nthe file cannot be opened: No such file or directory"});
      QCOMPARE(RecentItems(window), (QStringList{"2377 1. gone.bmp", "2378 2. good.bmp"}));
      QVERIFY(window.currentImage.IsEmpty());
      window.Command(2378)->trigger();
      QVERIFY(HasPattern(window.currentImage, 5, 4));
      QCOMPARE(window.filePath, good);
      window.recentFiles.Add(QStringLiteral("/c/z.bmp"));
    }
    QStringList stored;
    for (int i = 0; i < 5; ++i) stored << ProfileValue(QStringLiteral("MRUfiles/File%1").arg(i)).toString();
    QCOMPARE(stored, (QStringList{"/c/z.bmp", good, gone, QString(), "/b/y.jpg"}));
  }
};

QTEST_MAIN(FileDialogsTest)
#include "file_dialogs_test.moc"
