// The recent files list: its profile section, its File menu items, and the
// main window's use of it (open, recent file commands, a file that is gone).
#include <QAction>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "app/kestrune_app.h"
#include "app/kestrune_dlg.h"
#include "app/mru_list.h"
#include "app_test_support.h"

namespace {
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

QVariant ProfileValue(const QString& key) {
  QSettings settings;
  return settings.value(key);
}

void SetProfileValue(const QString& key, const QString& value) {
  QSettings settings;
  settings.setValue(key, value);
}
}  // namespace

class MRUListTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { CKestruneApp::SetProfileLocation(); }
  void init() { ClearProfile(); }
  void emptyProfile() {
    MenuOwner owner;
    MRUList& list = owner.list;
    QCOMPARE(RecentItems(owner.window), QStringList());
    QCOMPARE(owner.file->actions().size(), 3);  // Open, Save As, separator
    QCOMPARE(list.entries.size(), 10);          // ten empty slots
    QVERIFY(list.Get(0).isEmpty());

    // The main window on a first run: no recent items either.
    CKestruneDlg window;
    QCOMPARE(RecentItems(window), QStringList());
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
  }

  void elevenFiles() {
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

  void selectMovesToFront() {
    MenuOwner owner;
    MRUList& list = owner.list;
    list.entries.clear();
    for (const char* path : {"/c.png", "/b.png", "/a.png"}) list.Add(QString::fromLatin1(path));
    list.Select(2);
    QCOMPARE(list.Get(0), QStringLiteral("/c.png"));
    QCOMPARE(RecentItems(owner.window), (QStringList{"2377 1. c.png", "2378 2. a.png", "2379 3. b.png"}));
    list.Select(7);  // no such entry: nothing changes
    QCOMPARE(list.Get(0), QStringLiteral("/c.png"));
    QCOMPARE(list.entries.size(), 3);
  }

  void fileNames() {
    QCOMPARE(MenuFileName(QStringLiteral("C:\\img\\a.png")), QStringLiteral("a.png"));
    QCOMPARE(MenuFileName(QStringLiteral("/home/u/b.jpg")), QStringLiteral("b.jpg"));
    QCOMPARE(MenuFileName(QStringLiteral("plain.bmp")), QStringLiteral("plain.bmp"));
    // An "&" in a name shows as itself, not as a shortcut mark.
    MenuOwner owner;
    MRUList& list = owner.list;
    list.Add(QStringLiteral("/r&d.png"));
    QCOMPARE(RecentItems(owner.window), (QStringList{"2377 1. r&&d.png"}));
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

QTEST_MAIN(MRUListTest)
#include "mru_list_test.moc"
