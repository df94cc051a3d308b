#pragma once

#include <QDialog>

namespace qtview {

// The About box: the icon, "Quorvane 1.0 版", the full version and an OK button.
class CAboutDlg : public QDialog {
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The program icon.
QIcon ProgramIcon();

}  // namespace qtview
