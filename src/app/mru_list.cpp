// The recent files list, its profile section and its File menu items.
#include "app/mru_list.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>

#include <algorithm>

namespace {
const char kSection[] = "MRUfiles";

QString FileKey(uint32_t index) { return QStringLiteral("File%1").arg(index); }
}  // namespace

QString MenuFileName(const QString& path) {
  const int separator = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
  return path.mid(separator + 1);
}

void MRUList::Load(QMainWindow* newOwner) {
  owner = newOwner;
  QSettings settings;
  settings.beginGroup(QLatin1String(kSection));
  for (uint32_t i = 0; i < capacity; ++i) entries.append(settings.value(FileKey(i), QString()).toString());
  settings.endGroup();
  RebuildMenu();
}

void MRUList::Save() const {
  QSettings settings;
  settings.beginGroup(QLatin1String(kSection));
  for (uint32_t i = 0; i < capacity && i < static_cast<uint32_t>(entries.size()); ++i)
    settings.setValue(FileKey(i), entries[static_cast<qsizetype>(i)]);
  settings.endGroup();
}

void MRUList::Add(const QString& path) {
  if (path.isEmpty()) return;
  entries.removeAll(path);
  entries.prepend(path);
  if (static_cast<uint32_t>(entries.size()) > capacity) entries.removeLast();
  RebuildMenu();
}

void MRUList::Select(int index) {
  if (index < 0 || index >= entries.size()) return;
  entries.move(index, 0);
  RebuildMenu();
}

QString MRUList::Get(int index) const { return entries.value(index); }

QMenu* MRUList::FileMenu() const {
  if (!owner) return nullptr;
  const QList<QAction*> menus = owner->menuBar()->actions();
  return menus.isEmpty() ? nullptr : menus.first()->menu();
}

void MRUList::RebuildMenu() {
  QMenu* menu = FileMenu();
  if (!menu) return;
  for (QAction* action : menu->actions()) {
    bool isNumber = false;
    const int id = action->data().toInt(&isNumber);
    if (isNumber && id >= kFirstCommandId && id < kFirstCommandId + static_cast<int>(capacity)) {
      // The item may be the one whose command is running: unhook it now and
      // delete it once that command has returned.
      menu->removeAction(action);
      action->setData(QVariant());
      action->setObjectName(QString());
      action->deleteLater();
    }
  }
  for (uint32_t i = 0; i < capacity && i < static_cast<uint32_t>(entries.size()); ++i) {
    const QString& entry = entries[static_cast<qsizetype>(i)];
    if (entry.isEmpty()) break;
    const int id = kFirstCommandId + static_cast<int>(i);
    // "&" would mark a shortcut letter in a menu text; "&&" shows it as is.
    QString name = MenuFileName(entry);
    name.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction* action = menu->addAction(QStringLiteral("%1. %2").arg(i + 1).arg(name));
    action->setData(id);
    action->setObjectName(QString::number(id));
  }
}
