// CAboutDlg: the About box with the product title, version, the maintainers'
// mail links and the JPEG decoder credit.
#pragma once

#include <QDialog>

#include "app/hyperlink.h"

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  CHyperLink* links[3] = {};
};
