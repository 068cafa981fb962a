// The About box.
#include "app/about_dlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/field_exchange.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Kestrune"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  DialogUnits du(this);
  setFixedSize(du.X(222), du.Y(113));

  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/kestrune.png")).pixmap(32, 32));
  icon->setGeometry(du.X(8), du.Y(10), 32, 32);

  auto addText = [&](const QString& text, QRect rect, Qt::Alignment align) {
    auto* label = new QLabel(text, this);
    label->setAlignment(align | Qt::AlignTop);
    label->setGeometry(rect);
    return label;
  };
  addText(QStringLiteral("KESTRUNE Image Resampling"), du.Rect(52, 10, 119, 8), Qt::AlignHCenter);
  addText(QStringLiteral("Version 1.2"), du.Rect(52, 18, 119, 8), Qt::AlignHCenter);
  addText(QStringLiteral("Authors:"), du.Rect(16, 56, 29, 8), Qt::AlignLeft);
  addText(QStringLiteral("JPEG decoder - by Independent JPEG Group"), du.Rect(22, 72, 182, 8), Qt::AlignHCenter);

  struct Link {
    int id;
    QRect rect;
    const char* name;
    const char* mail;
  };
  const Link table[3] = {
      {1154, du.Rect(50, 56, 41, 8), "Algorithms", "mailto:algorithms@example.org"},
      {1155, du.Rect(96, 56, 55, 8), "User interface", "mailto:interface@example.org"},
      {1156, du.Rect(156, 56, 54, 8), "Maintainers", "mailto:maintainers@example.org"},
  };
  // Binding first (each link's target is its text), then the mail targets.
  for (int i = 0; i < 3; ++i) {
    links[i] = new CHyperLink(this);
    links[i]->setObjectName(QString::number(table[i].id));
    links[i]->setText(QString::fromLatin1(table[i].name));
    links[i]->setGeometry(table[i].rect);
    links[i]->PreSubclassWindow();
  }
  for (int i = 0; i < 3; ++i) links[i]->SetTarget(QString::fromLatin1(table[i].mail));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("IDOK"));
  ok->setGeometry(du.Rect(86, 90, 50, 16));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
