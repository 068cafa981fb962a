// The open and save dialogs with the recent folders panel, the open dialog's
// preview, and the save dialog's extension rule.
#include "app/bitmap_file_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>

#include <algorithm>
#include <new>

#include <kestrune/io.h>

#include "app/dib_draw.h"
#include "app/field_exchange.h"
#include "app/file_dlg_rules.h"

// The panel below the dialog's own controls. Its controls are placed by the
// dialog (they line up with the dialog's controls); the dialog paints on it.
class FileDialogPanel : public QWidget {
 public:
  explicit FileDialogPanel(CRecentFolderFileDlg* owner) : QWidget(owner), owner_(owner) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    owner_->PaintPanel(painter);
  }
  void resizeEvent(QResizeEvent*) override { owner_->LayoutPanel(); }
  // The dialog's own controls that the panel lines up with moved or changed
  // size.
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move || event->type() == QEvent::Show)
      owner_->LayoutPanel();
    return false;
  }

 private:
  CRecentFolderFileDlg* owner_;
};

namespace {
// Top-left of `widget` in `target`'s coordinates (both inside `dialog`).
QPoint PositionIn(const QWidget* widget, const QWidget* dialog, const QWidget* target) {
  return target->mapFrom(dialog, widget->mapTo(dialog, QPoint(0, 0)));
}

// The preview box's height and the space between the combo box's width and
// the box's width.
constexpr int kPreviewBoxHeight = 120;
constexpr int kPreviewBoxInset = 80;
}  // namespace

CRecentFolderFileDlg::CRecentFolderFileDlg(bool openFileDialog, const QString& defaultExtension,
                                           const QString& fileName, const QString& filter, QWidget* parent)
    : QFileDialog(parent) {
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(openFileDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  setFileMode(openFileDialog ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  setNameFilters(QtNameFilters(filter));
  if (!defaultExtension.isEmpty()) setDefaultSuffix(defaultExtension);
  initialFolder = ReadInitialFolder();
  if (!initialFolder.isEmpty() && QFileInfo(initialFolder).isDir()) setDirectory(initialFolder);
  if (!fileName.isEmpty()) selectFile(fileName);

  panel = new FileDialogPanel(this);
  panel->setObjectName(QStringLiteral("recentFoldersPanel"));
  recentFoldersLabel = new QLabel(QStringLiteral("Recent folders:"), panel);
  recentFolders = new QComboBox(panel);
  recentFolders->setObjectName(QStringLiteral("recentFolders"));
  recentFolders->addItems(ReadRecentFolders());
  if (recentFolders->count() > 0) recentFolders->setCurrentIndex(0);
  connect(recentFolders, &QComboBox::activated, this, &CRecentFolderFileDlg::OnRecentFolderChosen);
  if (auto* grid = qobject_cast<QGridLayout*>(layout()))
    grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());
  else if (layout())
    layout()->addWidget(panel);
  // The dialog's label column widens to hold "Recent folders:", so that the
  // box can start where the file-type box does.
  if (auto* typeLabel = findChild<QWidget*>(QStringLiteral("fileTypeLabel")))
    typeLabel->setMinimumWidth(recentFoldersLabel->sizeHint().width());
  for (const char* name : {"fileTypeLabel", "fileTypeCombo", "listView", "treeView"})
    if (QWidget* widget = findChild<QWidget*>(QLatin1String(name))) widget->installEventFilter(panel);
  DialogUnits du(this);
  panel->setFixedHeight(std::max(recentFolders->sizeHint().height(), du.Y(11)) + 4);
}

QString CRecentFolderFileDlg::PathName() const { return selectedFiles().value(0); }

QLineEdit* CRecentFolderFileDlg::FileNameBox() const { return findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }

void CRecentFolderFileDlg::OnRecentFolderChosen(int index) {
  const QString folder = recentFolders->itemText(index);
  // A folder that is gone leaves the dialog where it is.
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) setDirectory(folder);
  if (QLineEdit* name = FileNameBox()) name->clear();
}

void CRecentFolderFileDlg::OnFileNameOK(const QString& path) {
  QStringList items;
  for (int i = 0; i < recentFolders->count(); ++i) items.append(recentFolders->itemText(i));
  const QString folder = FolderOfPath(path);
  RememberFolder(items, folder);
  if (!folder.isEmpty() && recentFolders->count() > 0) recentFolders->setCurrentIndex(0);
}

void CRecentFolderFileDlg::done(int result) {
  if (result == QDialog::Accepted) OnFileNameOK(PathName());
  QFileDialog::done(result);
}

void CRecentFolderFileDlg::LayoutPanel() {
  const auto* typeLabel = findChild<QWidget*>(QStringLiteral("fileTypeLabel"));
  const auto* typeCombo = findChild<QWidget*>(QStringLiteral("fileTypeCombo"));
  const QWidget* list = findChild<QWidget*>(QStringLiteral("listView"));
  if (list && !list->isVisible()) list = findChild<QWidget*>(QStringLiteral("treeView"));
  DialogUnits du(this);
  const int labelLeft = typeLabel ? PositionIn(typeLabel, this, panel).x() : du.X(13);
  const int comboLeft = typeCombo ? PositionIn(typeCombo, this, panel).x() : du.X(85);
  const int listRight = list ? PositionIn(list, this, panel).x() + list->width() : panel->width();
  recentFoldersLabel->setGeometry(labelLeft, du.Y(2), std::max(du.X(61), recentFoldersLabel->sizeHint().width()),
                                  std::max(du.Y(9), recentFoldersLabel->sizeHint().height()));
  recentFolders->setGeometry(comboLeft, 0, std::max(listRight - 10 - comboLeft, du.X(40)),
                             recentFolders->sizeHint().height());
}

void CRecentFolderFileDlg::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  LayoutPanel();
}

void CRecentFolderFileDlg::resizeEvent(QResizeEvent* event) {
  QFileDialog::resizeEvent(event);
  LayoutPanel();
}

CBitmapFileDlg::CBitmapFileDlg(bool openFileDialog, const QString& defaultExtension, const QString& fileName,
                               const QString& filter, QWidget* parent)
    : CRecentFolderFileDlg(openFileDialog, defaultExtension, fileName, filter, parent) {
  showPreview = ReadPreviewFlag();
  previewCheck = new QCheckBox(QStringLiteral("Preview"), panel);
  previewCheck->setObjectName(QStringLiteral("preview"));
  previewCheck->setChecked(showPreview);
  dimensionsLabel = new QLabel(dimensionsText, panel);
  bitDepthLabel = new QLabel(bitDepthText, panel);
  dimensionsLabel->setEnabled(showPreview);
  bitDepthLabel->setEnabled(showPreview);
  connect(previewCheck, &QCheckBox::toggled, this, &CBitmapFileDlg::OnPreviewToggled);
  connect(this, &QFileDialog::currentChanged, this, &CBitmapFileDlg::OnSelChange);
  // Room for the preview, centred on the bit-depth label's top edge.
  DialogUnits du(this);
  panel->setFixedHeight(du.Y(56) + kPreviewBoxHeight / 2 + 4);
}

void CBitmapFileDlg::LayoutPanel() {
  CRecentFolderFileDlg::LayoutPanel();
  if (!previewCheck) return;  // still being made
  DialogUnits du(this);
  const int left = recentFoldersLabel->x();
  previewCheck->setGeometry(left + 6, du.Y(22), previewCheck->sizeHint().width(), previewCheck->sizeHint().height());
  const int textWidth = dimensionsLabel->fontMetrics().horizontalAdvance(QStringLiteral("Dimensions: 00000x00000"));
  const int textHeight = dimensionsLabel->sizeHint().height();
  dimensionsLabel->setGeometry(left + 18, du.Y(46), textWidth, textHeight);
  bitDepthLabel->setGeometry(left + 18, du.Y(56), textWidth, textHeight);
  panel->update();
}

QRect CBitmapFileDlg::PreviewRect() const {
  if (!showPreview || previewImage.IsEmpty()) return QRect();
  const QRect combo = recentFolders->geometry();
  const QSize size =
      FitPreview(combo.width() - kPreviewBoxInset, kPreviewBoxHeight, previewImage.Width(), previewImage.Height());
  if (size.isEmpty()) return QRect();
  const int comboRight = combo.x() + combo.width();
  const int left = (combo.x() + comboRight - size.width()) / 2;
  const int top = bitDepthLabel->y() - size.height() / 2;
  return QRect(QPoint(left, top), size);
}

void CBitmapFileDlg::ShowTexts() {
  dimensionsLabel->setText(dimensionsText);
  bitDepthLabel->setText(bitDepthText);
}

void CBitmapFileDlg::OnSelChange(const QString& path) {
  showPreview = previewCheck->isChecked();
  if (showPreview) {
    // A fresh image for each file: only BMP files set the bit depth, so an
    // image read before must not lend its depth to a PNG or JPEG file.
    bool readOk = false;
    previewImage = kestrune::Image();
    if (!path.isEmpty()) {
      // What can be read of a damaged file is still worth a look.
      kestrune::ReadOptions options;
      options.keepDamaged = true;
      kestrune::Result<kestrune::Image> read = kestrune::ReadImage(QFile::encodeName(path).toStdString(), options);
      readOk = read.has_value() && !read.value().IsEmpty();
      if (readOk) previewImage = std::move(read).value();
    }
    const PreviewTexts texts = PreviewTextsFor(readOk, previewImage);
    dimensionsText = texts.dimensions;
    bitDepthText = texts.bitDepth;
    ShowTexts();
    previewBitmap_.Release();
  }
  panel->update();
}

void CBitmapFileDlg::OnPreviewToggled(bool checked) {
  showPreview = checked;
  dimensionsLabel->setEnabled(showPreview);
  bitDepthLabel->setEnabled(showPreview);
  if (!showPreview) {
    dimensionsText = QStringLiteral("Dimensions:");
    bitDepthText = QStringLiteral("Bit depth:");
    ShowTexts();
  }
  // The file list's current file, as a selection change would report it.
  const QStringList selected = selectedFiles();
  OnSelChange(selected.isEmpty() ? QString() : selected.first());
}

void CBitmapFileDlg::PaintPanel(QPainter& painter) {
  const QRect picture = PreviewRect();
  if (picture.isEmpty()) return;
  const auto width = static_cast<uint32_t>(picture.width()), height = static_cast<uint32_t>(picture.height());
  try {
    if (previewBitmap_.width != width || previewBitmap_.height != height)
      BoxAveragePreview(previewImage, width, height, previewBitmap_);
  } catch (const std::bad_alloc&) {
    previewBitmap_.Release();
    return;
  }
  // A sunken one-pixel frame: shadow at the top and left, white at the
  // bottom and right.
  const int x = picture.x() - 1, y = picture.y() - 1, cx = picture.width() + 2, cy = picture.height() + 2;
  const QColor shadow = palette().color(QPalette::Dark);
  painter.fillRect(x, y, cx - 1, 1, shadow);
  painter.fillRect(x, y, 1, cy - 1, shadow);
  painter.fillRect(x + cx - 1, y, 1, cy, Qt::white);
  painter.fillRect(x, y + cy - 1, cx, 1, Qt::white);
  Draw(previewBitmap_, painter, picture.x(), picture.y());
}

void CBitmapFileDlg::OnFileNameOK(const QString& path) {
  CRecentFolderFileDlg::OnFileNameOK(path);
  showPreview = previewCheck->isChecked();
  WritePreviewFlag(showPreview);
}

void CBitmapFileDlg::done(int result) {
  CRecentFolderFileDlg::done(result);
  previewImage = kestrune::Image();
  previewBitmap_.Release();
}

CXDlg2::CXDlg2(bool openFileDialog, const QString& defaultExtension, const QString& fileName, const QString& filter,
               QWidget* parent)
    : CRecentFolderFileDlg(openFileDialog, defaultExtension, fileName, filter, parent), filter(filter) {
  connect(this, &QFileDialog::filterSelected, this,
          [this](const QString& chosen) { OnTypeChange(static_cast<int>(nameFilters().indexOf(chosen)) + 1); });
}

void CXDlg2::OnTypeChange(int typeIndex) {
  if (typeIndex < 1) return;
  const QString extension = ChangeTypeExtension(QString(), filter, typeIndex).mid(1);
  if (!extension.isEmpty()) setDefaultSuffix(extension);
  QLineEdit* box = FileNameBox();
  // An empty name stays empty: a bare ".bmp" would be a hidden file here.
  if (!box || box->text().isEmpty()) return;
  box->setText(ChangeTypeExtension(box->text(), filter, typeIndex));
}
