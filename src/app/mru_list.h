// MRUList: the recent files shown at the end of the File menu. The list is
// read from the profile section "MRUfiles" (File0, File1, ...) when the main
// window is made and written back when it is destroyed.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

class QMainWindow;
class QMenu;

class MRUList {
 public:
  // Command ids of the menu items: kFirstCommandId + index.
  static constexpr int kFirstCommandId = 2377;

  explicit MRUList(uint32_t capacity) : capacity(capacity) {}

  // Remembers the owner, reads File0..File(capacity - 1) in order (empty
  // values included) and builds the menu items.
  void Load(QMainWindow* owner);
  // Writes at most `capacity` entries to File0, File1, ...; empty entries as
  // empty strings.
  void Save() const;
  // Puts `path` at the front; an equal entry (exact comparison, letter case
  // counts) is removed first, and the oldest entry drops out beyond capacity.
  // An empty path is ignored.
  void Add(const QString& path);
  // Moves entry `index` to the front (nothing when there is no such entry).
  void Select(int index);
  // A copy of entry `index` counted from the front; empty when absent.
  QString Get(int index) const;
  // Replaces the list's items in the owner's File menu: "1. name", "2. name",
  // ... up to the first empty entry, with the file name after the last
  // separator.
  void RebuildMenu();

  uint32_t capacity;
  QStringList entries;
  QMainWindow* owner = nullptr;

 private:
  QMenu* FileMenu() const;
};

// The part of `path` after its last "/" (or "\"); the whole path without one.
QString MenuFileName(const QString& path);
