// Recent folders in the profile, the preview's fit, pixels and texts, and the
// save dialog's extension rule.
#include "app/file_dlg_rules.h"

#include <QSettings>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {
const char kFolderSection[] = "MRU folders";

QString DirKey(int index) { return QStringLiteral("Dir%1").arg(index); }

// First source index of output cell `i` of `outCount` cells over `inCount`
// samples: the integer part of i * inCount / outCount + 0.5.
uint32_t CellStart(uint64_t i, uint64_t inCount, uint64_t outCount) {
  return static_cast<uint32_t>((2 * i * inCount + outCount) / (2 * outCount));
}
}  // namespace

QStringList ReadRecentFolders() {
  QSettings settings;
  settings.beginGroup(QLatin1String(kFolderSection));
  QStringList folders;
  for (int i = 0; i < kRecentFolderCount; ++i) {
    const QString folder = settings.value(DirKey(i), QString()).toString();
    if (!folder.isEmpty()) folders.append(folder);
  }
  return folders;
}

QString ReadInitialFolder() {
  QSettings settings;
  return settings.value(QLatin1String(kFolderSection) + QStringLiteral("/Dir0"), QString()).toString();
}

bool ReadPreviewFlag() {
  QSettings settings;
  return settings.value(QLatin1String(kFolderSection) + QStringLiteral("/Preview"), 1).toInt() != 0;
}

void WritePreviewFlag(bool showPreview) {
  QSettings settings;
  settings.setValue(QLatin1String(kFolderSection) + QStringLiteral("/Preview"), showPreview ? 1 : 0);
}

QString FolderOfPath(const QString& path) {
  const int slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return QString();
  if (slash == 0) return QStringLiteral("/");
  return path.left(slash + 1);
}

void RememberFolder(QStringList boxItems, const QString& folder) {
  for (qsizetype i = 0; i < boxItems.size(); ++i)
    if (boxItems[i].compare(folder, Qt::CaseInsensitive) == 0) {
      boxItems.removeAt(i);
      break;
    }
  QSettings settings;
  settings.beginGroup(QLatin1String(kFolderSection));
  const int count = std::min<int>(static_cast<int>(boxItems.size()), kRecentFolderCount - 1);
  for (int k = count; k >= 1; --k)
    if (!boxItems[k - 1].isEmpty()) settings.setValue(DirKey(k), boxItems[k - 1]);
  if (!folder.isEmpty()) settings.setValue(DirKey(0), folder);
  settings.endGroup();
}

QSize FitPreview(int boxWidth, int boxHeight, uint32_t w, uint32_t h) {
  if (boxWidth < 1 || boxHeight < 1 || w == 0 || h == 0) return QSize();
  const double bw = boxWidth, bh = boxHeight, iw = w, ih = h;
  int width, height;
  if (bw / bh > iw / ih) {
    height = boxHeight;
    width = static_cast<int>(bh * iw / ih + 0.5);
  } else {
    width = boxWidth;
    height = static_cast<int>(bw * ih / iw + 0.5);
  }
  if (static_cast<uint32_t>(width) > w || static_cast<uint32_t>(height) > h) {
    width = static_cast<int>(w);
    height = static_cast<int>(h);
  }
  return QSize(width, height);
}

void BoxAveragePreview(const kestrune::Image& image, uint32_t width, uint32_t height, DibImage& preview) {
  preview.Allocate(width, height);
  if (preview.IsEmpty() || image.IsEmpty()) return;
  const uint32_t w = image.Width(), h = image.Height();
  std::vector<uint32_t> columnStart(std::size_t(width) + 1);
  for (uint32_t x = 0; x <= width; ++x) columnStart[x] = CellStart(x, w, width);
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t top = CellStart(y, h, height), bottom = CellStart(y + 1, h, height);
    uint8_t* out = preview.rows()[y];
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t left = columnStart[x], right = columnStart[x + 1];
      const std::size_t count = std::size_t(bottom - top) * (right - left);
      for (int c = 0; c < 3; ++c) {
        double sum = 0.0;
        for (uint32_t sy = top; sy < bottom; ++sy) {
          const float* row = image.Row(c, sy);
          for (uint32_t sx = left; sx < right; ++sx) sum += row[sx];
        }
        const double mean = count ? sum / static_cast<double>(count) : 0.0;
        // Bytes in blue, green, red order; the reader's samples lie in 0..255.
        out[3 * x + (2 - c)] = static_cast<uint8_t>(std::clamp(static_cast<int>(mean + 0.5), 0, 255));
      }
    }
  }
}

PreviewTexts PreviewTextsFor(bool readOk, const kestrune::Image& image) {
  if (!readOk || image.IsEmpty()) return {QStringLiteral("Dimensions: N/A"), QStringLiteral("Bit depth: N/A")};
  PreviewTexts texts;
  texts.dimensions = QStringLiteral("Dimensions: %1x%2").arg(image.Width()).arg(image.Height());
  texts.bitDepth = image.SourceBitDepth() ? QStringLiteral("Bit depth: %1 bits").arg(image.SourceBitDepth())
                                          : QStringLiteral("Bit depth: N/A");
  return texts;
}

QString ChangeTypeExtension(const QString& name, const QString& filter, int typeIndex) {
  QString result = name;
  qsizetype dot = result.lastIndexOf(QLatin1Char('.'));
  const qsizetype separator = std::max(result.lastIndexOf(QLatin1Char('\\')), result.lastIndexOf(QLatin1Char('/')));
  if (dot <= separator) {
    dot = result.size();
    result.append(QLatin1Char('.'));
  }
  // The pattern of type `typeIndex` follows separator number 2 x typeIndex - 1.
  qsizetype position = 0;
  for (int skipped = 0; skipped < 2 * typeIndex - 1 && position >= 0; ++skipped) {
    position = filter.indexOf(QLatin1Char('|'), position);
    if (position >= 0) ++position;
  }
  QString extension;
  if (position >= 0) {
    const qsizetype end = filter.indexOf(QLatin1Char('|'), position);
    const QString pattern = filter.mid(position, end < 0 ? -1 : end - position);
    const qsizetype patternDot = pattern.indexOf(QLatin1Char('.'));
    // A type listing several patterns gives the first one's extension.
    if (patternDot >= 0) extension = pattern.mid(patternDot + 1).section(QLatin1Char(';'), 0, 0);
    if (extension == QLatin1String("*")) extension.clear();
  }
  return result.left(dot + 1) + extension;
}

QStringList QtNameFilters(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;  // "||" ends the list
    QString description = parts[i];
    const qsizetype open = description.lastIndexOf(QLatin1Char('('));
    if (open > 0 && description.endsWith(QLatin1Char(')'))) description = description.left(open).trimmed();
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    // "*.*" means every file; on this system names need no dot.
    for (QString& pattern : patterns)
      if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    filters.append(QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' '))));
  }
  return filters;
}
