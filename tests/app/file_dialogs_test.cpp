// The open and save dialogs (recent folders in the profile, the preview's
// fit, pixels, placement and texts, the save dialog's extension rule) and
// the recent files list
// (its profile section, its File menu items, and the main window's use of it).
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <vector>

#include "app/bitmap_file_dlg.h"
#include "app/file_dialogs.h"
#include "app/file_dlg_rules.h"
#include "app/kestrune_app.h"
#include "app/kestrune_dlg.h"
#include "app/mru_list.h"
#include "app_test_support.h"

namespace {
void SetFolders(const QStringList& folders) {
  for (int i = 0; i < folders.size(); ++i) SetProfileValue(QStringLiteral("MRU folders/Dir%1").arg(i), folders[i]);
}

QStringList StoredFolders() {
  QStringList folders;
  for (int i = 0; i < 10; ++i) folders << ProfileValue(QStringLiteral("MRU folders/Dir%1").arg(i)).toString();
  while (!folders.isEmpty() && folders.last().isEmpty()) folders.removeLast();
  return folders;
}

QStringList BoxItems(const QComboBox& box) {
  QStringList items;
  for (int i = 0; i < box.count(); ++i) items << box.itemText(i);
  return items;
}

CBitmapFileDlg* MakeOpenDialog() { return new CBitmapFileDlg(true, QString(), QString(), OpenFilter(), nullptr); }

// A width x height image whose planes hold these samples, row by row.
kestrune::Image MakeImage(uint32_t width, uint32_t height, const std::vector<float>& red,
                          const std::vector<float>& green, const std::vector<float>& blue) {
  kestrune::Image image(width, height);
  std::copy(red.begin(), red.end(), image.Plane(kestrune::kRed));
  std::copy(green.begin(), green.end(), image.Plane(kestrune::kGreen));
  std::copy(blue.begin(), blue.end(), image.Plane(kestrune::kBlue));
  return image;
}

// One pixel of a preview buffer as "r,g,b".
QString PreviewPixel(const DibImage& dib, uint32_t x, uint32_t y) {
  const uint8_t* p = dib.rows()[y] + 3 * x;
  return QStringLiteral("%1,%2,%3").arg(p[2]).arg(p[1]).arg(p[0]);
}
// A window with the program's File menu before any recent entry, and a
// list of ten loaded from the profile into it.
struct MenuOwner {
  QMainWindow window;
  QMenu* file;
  MRUList list{10};
  MenuOwner() {
    file = window.menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("Open..."));
    file->addAction(QStringLiteral("Save As..."));
    file->addSeparator();
    window.menuBar()->addMenu(QStringLiteral("&Edit"))->addAction(QStringLiteral("Copy"));
    list.Load(&window);
  }
};

// "id text" of each recent file item of the first menu, in menu order.
QStringList RecentItems(QMainWindow& window) {
  QStringList items;
  for (QAction* action : window.menuBar()->actions().first()->menu()->actions()) {
    const int id = action->data().toInt();
    if (id >= 2377 && id <= 2386) items << QStringLiteral("%1 %2").arg(id).arg(action->text());
  }
  return items;
}
}  // namespace

class FileDialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { CKestruneApp::SetProfileLocation(); }
  void init() { ClearProfile(); }
  void emptyProfile() {
    std::unique_ptr<CBitmapFileDlg> open(MakeOpenDialog());
    QCOMPARE(open->recentFolders->count(), 0);
    QVERIFY(open->initialFolder.isEmpty());
    QVERIFY(open->previewCheck->isChecked());
    QCOMPARE(open->previewCheck->text(), QStringLiteral("Preview"));
    QCOMPARE(open->recentFoldersLabel->text(), QStringLiteral("Recent folders:"));
    QCOMPARE(open->dimensionsLabel->text(), QStringLiteral("Bitmap dimensions:"));
    QCOMPARE(open->bitDepthLabel->text(), QStringLiteral("Bit depth:"));
    QVERIFY(open->dimensionsLabel->isEnabled());
    CXDlg2 save(false, QStringLiteral("bmp"), QStringLiteral("photo.bmp"), SaveFilter(), nullptr);
    QCOMPARE(save.recentFolders->count(), 0);
    QCOMPARE(save.nameFilters(), (QStringList{"Bitmap Files (*.bmp)", "PNG Files (*.png)", "JPEG Files (*.jpg)",
                                              "TIFF Files (*.tif)", "WebP Files (*.webp)"}));

    // No recent files either, in a menu of its own or in the main window's.
    MenuOwner owner;
    QCOMPARE(RecentItems(owner.window), QStringList());
    QCOMPARE(owner.file->actions().size(), 3);  // Open, Save As, separator
    QVERIFY(owner.list.Get(0).isEmpty());
    CKestruneDlg window;
    QCOMPARE(RecentItems(window), QStringList());
  }

  void rememberFolders() {
    SetFolders({"/home/u/Img/", "/tmp/"});
    {
      std::unique_ptr<CBitmapFileDlg> open(MakeOpenDialog());
      QCOMPARE(BoxItems(*open->recentFolders), (QStringList{"/home/u/Img/", "/tmp/"}));
      QCOMPARE(open->recentFolders->currentIndex(), 0);
      QCOMPARE(open->initialFolder, QStringLiteral("/home/u/Img/"));
      // The same folder in other letters replaces the old item.
      open->OnFileNameOK(QStringLiteral("/home/u/img/p.png"));
    }
    QCOMPARE(StoredFolders(), (QStringList{"/home/u/img/", "/tmp/"}));

    // Saving into the root keeps "/"; another folder gets its "/" and the
    // others move down; a folder already in the list moves to the top.
    auto save = [](const char* path) {
      CXDlg2 dialog(false, QStringLiteral("bmp"), QString(), SaveFilter(), nullptr);
      dialog.OnFileNameOK(QString::fromLatin1(path));
    };
    save("/x.bmp");
    QCOMPARE(StoredFolders(), (QStringList{"/", "/home/u/img/", "/tmp/"}));
    save("/tmp/out/y.bmp");
    QCOMPARE(StoredFolders(), (QStringList{"/tmp/out/", "/", "/home/u/img/", "/tmp/"}));
    save("/TMP/z.bmp");
    QCOMPARE(StoredFolders(), (QStringList{"/TMP/", "/tmp/out/", "/", "/home/u/img/"}));
  }

  void tenFoldersAndThePreviewFlag() {
    QStringList ten;
    for (int i = 0; i < 10; ++i) ten << QStringLiteral("/f%1/").arg(i);
    SetFolders(ten);
    {
      std::unique_ptr<CBitmapFileDlg> open(MakeOpenDialog());
      QCOMPARE(open->recentFolders->count(), 10);
      open->previewCheck->setChecked(false);
      open->OnFileNameOK(QStringLiteral("/new/a.jpg"));
    }
    QStringList expected{"/new/"};
    expected += ten.mid(0, 9);
    QCOMPARE(StoredFolders(), expected);
    QCOMPARE(ProfileValue("MRU folders/Preview").toInt(), 0);
    std::unique_ptr<CBitmapFileDlg> again(MakeOpenDialog());
    QVERIFY(!again->previewCheck->isChecked());
    QVERIFY(!again->dimensionsLabel->isEnabled());
    QVERIFY(!again->bitDepthLabel->isEnabled());
  }

  void chooseRecentFolder() {
    QTemporaryDir first, second;
    const QString a = QDir(first.path()).canonicalPath() + QLatin1Char('/');
    const QString b = QDir(second.path()).canonicalPath() + QLatin1Char('/');
    SetFolders({a, b});
    CXDlg2 save(false, QStringLiteral("bmp"), QStringLiteral("photo.bmp"), SaveFilter(), nullptr);
    QCOMPARE(QDir(save.directory()).canonicalPath() + QLatin1Char('/'), a);
    QLineEdit* name = save.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    QCOMPARE(name->text(), QStringLiteral("photo.bmp"));
    save.recentFolders->setCurrentIndex(1);
    emit save.recentFolders->activated(1);
    QCOMPARE(QDir(save.directory()).canonicalPath() + QLatin1Char('/'), b);
    QCOMPARE(name->text(), QString());
  }

  void previewFit() {
    QCOMPARE(FitPreview(240, 120, 4000, 100), QSize(240, 6));
    QCOMPARE(FitPreview(240, 120, 50, 40), QSize(50, 40));
    QCOMPARE(FitPreview(240, 120, 100, 4000), QSize(3, 120));  // 120 x 100 / 4000 + 0.5 = 3.5
    QCOMPARE(FitPreview(240, 120, 480, 240), QSize(240, 120));
    QCOMPARE(FitPreview(240, 120, 300, 1000), QSize(36, 120));  // 120 x 0.3 = 36
    QVERIFY(FitPreview(0, 120, 50, 40).isEmpty());
    QVERIFY(FitPreview(240, 120, 0, 0).isEmpty());
  }

  void boxAveraging() {
    // Five columns into three: the cells cover columns 0-1, 2 and 3-4.
    DibImage dib;
    BoxAveragePreview(MakeImage(5, 1, {0, 10, 20, 30, 41}, {200, 201, 7, 255, 255}, {1, 2, 3, 4, 6}), 3, 1, dib);
    QCOMPARE(dib.width, 3u);
    QCOMPARE(PreviewPixel(dib, 0, 0), QStringLiteral("5,201,2"));  // 200.5 rounds up, 1.5 too
    QCOMPARE(PreviewPixel(dib, 1, 0), QStringLiteral("20,7,3"));
    QCOMPARE(PreviewPixel(dib, 2, 0), QStringLiteral("36,255,5"));  // 35.5 and 5.0

    // Four by two into two by one: 2 x 2 blocks.
    const std::vector<float> block{0, 10, 20, 30, 1, 11, 21, 33};
    BoxAveragePreview(MakeImage(4, 2, block, block, block), 2, 1, dib);
    QCOMPARE(PreviewPixel(dib, 0, 0), QStringLiteral("6,6,6"));     // 22 / 4 = 5.5
    QCOMPARE(PreviewPixel(dib, 1, 0), QStringLiteral("26,26,26"));  // 104 / 4 = 26

    // Two columns stretched to three: the middle cell covers none and is 0.
    const std::vector<float> two{100, 200};
    BoxAveragePreview(MakeImage(2, 1, two, two, two), 3, 1, dib);
    QCOMPARE(PreviewPixel(dib, 0, 0), QStringLiteral("100,100,100"));
    QCOMPARE(PreviewPixel(dib, 1, 0), QStringLiteral("0,0,0"));
    QCOMPARE(PreviewPixel(dib, 2, 0), QStringLiteral("200,200,200"));
  }

  // The preview's texts for each kind of file; its place, centred on the
  // combo box and vertically on the bit-depth label's top; the check box
  // that turns it off, after which a selection change reads nothing.
  void preview() {
    QTemporaryDir dir;
    const QString bmp = WriteFile(dir, QStringLiteral("p.bmp"), PatternBmp(8, 6, 24));
    const QString text = WriteFile(dir, QStringLiteral("notes.txt"), "not a picture");
    const QString png = WriteImageFile(dir, QStringLiteral("p.png"), PatternImage(7, 3));
    const QString jpg = dir.filePath(QStringLiteral("p.jpg"));
    QImage photo(9, 5, QImage::Format_RGB888);
    photo.fill(QColor(10, 120, 200));
    QVERIFY(photo.save(jpg, "JPG", 90));

    std::unique_ptr<CBitmapFileDlg> open(MakeOpenDialog());
    struct Case {
      QString path, dimensions, bitDepth;
    };
    const Case cases[] = {{bmp, "Dimensions: 8x6", "Bit depth: 24 bits"},
                          {png, "Dimensions: 7x3", "Bit depth: N/A"},
                          {jpg, "Dimensions: 9x5", "Bit depth: N/A"},
                          {text, "Dimensions: N/A", "Bit depth: N/A"},
                          {dir.path(), "Dimensions: N/A", "Bit depth: N/A"}};
    for (const Case& c : cases) {
      open->OnSelChange(c.path);
      QCOMPARE(open->dimensionsLabel->text(), c.dimensions);
      QCOMPARE(open->bitDepthLabel->text(), c.bitDepth);
      QCOMPARE(open->previewImage.IsEmpty(), c.dimensions.endsWith(QLatin1String("N/A")));
    }

    open->recentFolders->setGeometry(20, 0, 320, 24);  // a box of 240 x 120
    open->bitDepthLabel->move(30, 100);
    open->previewImage = PatternImage(4000, 100);
    QCOMPARE(open->PreviewRect(), QRect(60, 97, 240, 6));
    open->previewImage = PatternImage(50, 41);
    QCOMPARE(open->PreviewRect(), QRect(155, 80, 50, 41));

    open->previewCheck->setChecked(false);
    QCOMPARE(open->dimensionsLabel->text(), QStringLiteral("Dimensions:"));
    QCOMPARE(open->bitDepthLabel->text(), QStringLiteral("Bit depth:"));
    QVERIFY(!open->dimensionsLabel->isEnabled());
    QVERIFY(open->PreviewRect().isEmpty());
    open->OnSelChange(bmp);
    QCOMPARE(open->dimensionsLabel->text(), QStringLiteral("Dimensions:"));
    open->previewCheck->setChecked(true);
    QVERIFY(open->dimensionsLabel->isEnabled());
    open->OnSelChange(bmp);
    QVERIFY(HasPattern(open->previewImage, 8, 6));
    QCOMPARE(open->PreviewRect(), QRect(176, 97, 8, 6));
    // The image is let go when the dialog ends.
    open->done(QDialog::Rejected);
    QVERIFY(open->previewImage.IsEmpty());
  }

  void saveExtensionRule() {
    const QString filter = SaveFilter();
    QCOMPARE(ChangeTypeExtension(QStringLiteral("photo.png"), filter, 1), QStringLiteral("photo.bmp"));
    QCOMPARE(ChangeTypeExtension(QStringLiteral("photo"), filter, 1), QStringLiteral("photo.bmp"));
    QCOMPARE(ChangeTypeExtension(QStringLiteral("photo.bmp"), filter, 2), QStringLiteral("photo.png"));
    // A dot in a folder name is not an extension.
    QCOMPARE(ChangeTypeExtension(QStringLiteral("my.pics/photo"), filter, 1), QStringLiteral("my.pics/photo.bmp"));
    QCOMPARE(ChangeTypeExtension(QStringLiteral("a.b.png"), filter, 1), QStringLiteral("a.b.bmp"));
    const QString single = QStringLiteral("Bitmap Files (*.bmp)|*.bmp||");
    QCOMPARE(ChangeTypeExtension(QStringLiteral("photo.png"), single, 1), QStringLiteral("photo.bmp"));
    // "*" as extension counts as empty; several patterns give the first.
    QCOMPARE(ChangeTypeExtension(QStringLiteral("x.png"), OpenFilter(), 7), QStringLiteral("x."));
    QCOMPARE(ChangeTypeExtension(QStringLiteral("x.png"), OpenFilter(), 1), QStringLiteral("x.bmp"));

    // The dialog applies it when the type changes.
    CXDlg2 save(false, QStringLiteral("bmp"), QStringLiteral("photo.png"), filter, nullptr);
    QLineEdit* name = save.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    save.OnTypeChange(1);
    QCOMPARE(name->text(), QStringLiteral("photo.bmp"));
    name->setText(QStringLiteral("photo"));
    auto* types = save.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QVERIFY(types);
    types->setCurrentIndex(1);
    // As when the user picks "PNG Files".
    emit types->activated(1);
    emit types->textActivated(types->itemText(1));
    QCOMPARE(name->text(), QStringLiteral("photo.png"));
    QCOMPARE(save.defaultSuffix(), QStringLiteral("png"));
    name->clear();
    save.OnTypeChange(1);
    QCOMPARE(name->text(), QString());
  }

  void filters() {
    QCOMPARE(QtNameFilters(OpenFilter()),
             (QStringList{"All images (*.bmp *.png *.jpg *.jpeg *.tif *.tiff *.webp *.heic *.heif *.avif *.gif *.pbm "
                          "*.pgm *.ppm *.pnm *.pfm)",
                          "Bitmap files (*.bmp)", "PNG files (*.png)", "JPEG files (*.jpg *.jpeg)",
                          "TIFF files (*.tif *.tiff)", "WebP files (*.webp)", "All files (*)"}));
    QCOMPARE(QtNameFilters(QStringLiteral("Bitmap Files (*.bmp)|*.bmp||")), QStringList{"Bitmap Files (*.bmp)"});
  }

  void sameFileAndLetterCase() {
    MenuOwner owner;
    MRUList& list = owner.list;
    list.Add(QStringLiteral("/img/a.png"));
    list.Add(QStringLiteral("/img/a.png"));
    QCOMPARE(RecentItems(owner.window), (QStringList{"2377 1. a.png"}));
    list.Add(QString());  // ignored
    list.Add(QStringLiteral("/img/A.png"));
    QCOMPARE(RecentItems(owner.window), (QStringList{"2377 1. A.png", "2378 2. a.png"}));
    // The menu items follow the separator, after the menu's own items.
    QCOMPARE(owner.file->actions().size(), 5);
    QCOMPARE(owner.file->actions()[3]->text(), QStringLiteral("1. A.png"));
    // An "&" in a name shows as itself, not as a shortcut mark.
    list.Add(QStringLiteral("/r&d.png"));
    QCOMPARE(RecentItems(owner.window).first(), QStringLiteral("2377 1. r&&d.png"));
  }

  void elevenFilesAndSelect() {
    MenuOwner owner;
    MRUList& list = owner.list;
    for (int i = 0; i <= 10; ++i) list.Add(QStringLiteral("/photos/f%1.png").arg(i));
    QCOMPARE(list.entries.size(), 10);
    const QStringList items = RecentItems(owner.window);
    QCOMPARE(items.size(), 10);
    QCOMPARE(items.first(), QStringLiteral("2377 1. f10.png"));
    QCOMPARE(items.last(), QStringLiteral("2386 10. f1.png"));
    QVERIFY(!list.entries.contains(QStringLiteral("/photos/f0.png")));

    list.Save();
    QCOMPARE(ProfileValue("MRUfiles/File0").toString(), QStringLiteral("/photos/f10.png"));
    QCOMPARE(ProfileValue("MRUfiles/File9").toString(), QStringLiteral("/photos/f1.png"));
    QVERIFY(!ProfileValue("MRUfiles/File10").isValid());

    // Read back by a new list: the same order.
    MenuOwner again;
    QCOMPARE(RecentItems(again.window), items);

    // Choosing an entry moves it to the front; no such entry changes nothing.
    list.Select(2);
    QCOMPARE(list.Get(0), QStringLiteral("/photos/f8.png"));
    QCOMPARE(RecentItems(owner.window).mid(0, 3), (QStringList{"2377 1. f8.png", "2378 2. f10.png", "2379 3. f9.png"}));
    list.Select(10);
    QCOMPARE(list.Get(0), QStringLiteral("/photos/f8.png"));
    QCOMPARE(list.entries.size(), 10);
  }

  void gapEndsTheMenu() {
    SetProfileValue("MRUfiles/File0", "/a/x.png");
    SetProfileValue("MRUfiles/File2", "/b/y.jpg");
    MenuOwner owner;
    MRUList& list = owner.list;
    QCOMPARE(RecentItems(owner.window), (QStringList{"2377 1. x.png"}));
    QCOMPARE(list.Get(1), QString());
    QCOMPARE(list.Get(2), QStringLiteral("/b/y.jpg"));
    // Saved as read: the gap and the entry after it stay.
    list.Save();
    QCOMPARE(ProfileValue("MRUfiles/File1").toString(), QString());
    QCOMPARE(ProfileValue("MRUfiles/File2").toString(), QStringLiteral("/b/y.jpg"));

    // A new file pushes the gap down; the entries before it show.
    list.Add(QStringLiteral("/c/z.bmp"));
    QCOMPARE(RecentItems(owner.window), (QStringList{"2377 1. z.bmp", "2378 2. x.png"}));
  }

  void mainWindowUsesTheList() {
    QTemporaryDir dir;
    const QString good = WriteFile(dir, QStringLiteral("good.bmp"), PatternBmp(5, 4, 24));
    const QString gone = dir.filePath(QStringLiteral("gone.bmp"));
    SetProfileValue("MRUfiles/File0", good);
    SetProfileValue("MRUfiles/File1", gone);
    MessageRecorder messages;
    {
      CKestruneDlg window;
      QCOMPARE(RecentItems(window), (QStringList{"2377 1. good.bmp", "2378 2. gone.bmp"}));

      // The file that is gone: the loading error, and the entry stays, on top.
      window.Command(2378)->trigger();
      QCOMPARE(messages.Texts(), QStringList{QStringLiteral("Error loading image: ") + gone +
                                             "\nthe file cannot be opened: No such file or directory"});
      QCOMPARE(RecentItems(window), (QStringList{"2377 1. gone.bmp", "2378 2. good.bmp"}));
      QVERIFY(window.currentImage.IsEmpty());

      // The other one opens and goes back to the top.
      window.Command(2378)->trigger();
      QVERIFY(HasPattern(window.currentImage, 5, 4));
      QCOMPARE(window.filePath, good);
      QCOMPARE(RecentItems(window), (QStringList{"2377 1. good.bmp", "2378 2. gone.bmp"}));

      // Nothing is written before the window is destroyed.
      QFile::copy(good, dir.filePath(QStringLiteral("new.bmp")));
      QVERIFY(window.LoadImageFile(dir.filePath(QStringLiteral("new.bmp"))));
      QCOMPARE(RecentItems(window).first(), QStringLiteral("2377 1. new.bmp"));
      QCOMPARE(ProfileValue("MRUfiles/File0").toString(), good);
    }
    QCOMPARE(messages.messages.size(), std::size_t(1));
    QCOMPARE(ProfileValue("MRUfiles/File0").toString(), dir.filePath(QStringLiteral("new.bmp")));
    QCOMPARE(ProfileValue("MRUfiles/File1").toString(), good);
    QCOMPARE(ProfileValue("MRUfiles/File2").toString(), gone);
    QCOMPARE(ProfileValue("MRUfiles/File3").toString(), QString());
  }
};

QTEST_MAIN(FileDialogsTest)
#include "file_dialogs_test.moc"
