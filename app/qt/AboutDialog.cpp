#include "AboutDialog.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "DialogUnits.h"
#include "platform/Version.h"

// Resources linked from a static library must be registered by hand.
static void InitQuorvaneResources() {
    Q_INIT_RESOURCE(quorvane);
}

namespace qtview {

QIcon ProgramIcon() {
    static const bool registered = [] {
        InitQuorvaneResources();
        return true;
    }();
    (void)registered;
    return QIcon(QStringLiteral(":/quorvane/quorvane.png"));
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("关于 Quorvane"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const QFont font = DialogFont();
    setFont(font);
    const DialogUnits du(font);
    setFixedSize(du.X(235), du.Y(55));

    auto* icon = new QLabel(this);
    icon->setGeometry(du.Rect(11, 14, 21, 20));
    icon->setPixmap(ProgramIcon().pixmap(icon->size()));
    auto* text = new QLabel(QStringLiteral("Quorvane 1.0 版"), this);
    text->setGeometry(du.Rect(42, 14, 114, 8));
    // The full number, the same that --version prints.
    auto* version =
        new QLabel(QStringLiteral("版本 %1").arg(QString::fromLatin1(platform::kVersion)), this);
    version->setObjectName(QStringLiteral("version"));
    version->setGeometry(du.Rect(42, 26, 114, 8));
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setGeometry(du.Rect(178, 34, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace qtview
