#include "QuorvaneWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QScreen>
#include <QScrollBar>
#include <QSpacerItem>
#include <QTranslator>
#include <algorithm>

#include "AboutDialog.h"
#include "app/QuorvaneDlg.h"
#include "platform/OpenInEditor.h"

namespace qtview {
namespace {

struct ColumnSpec {
    const char* heading;
    int width;  // pixels
};
// The seven columns of the list, then ours: why a camera failed, or what the
// check after its reboot found.
constexpr int kColumnCount = 8;
constexpr ColumnSpec kColumns[kColumnCount] = {
    {"序号", 50},      {"设备类型", 120}, {"IP地址", 120}, {"MAC地址", 120},
    {"软件版本", 250}, {"硬件版本", 60},  {"状态", 110},   {"详情", 220}};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

template <typename W>
W* Place(W* widget, QWidget* parent, const DialogUnits& du, int id, int x, int y, int w, int h) {
    widget->setParent(parent);
    widget->setGeometry(du.Rect(x, y, w, h));
    if (id != 0) {
        widget->setObjectName(QString::number(id));
    }
    return widget;
}

QPushButton* Button(const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text));
    // Enter presses no button: no default, no auto-default.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

}  // namespace

QuorvaneWindow::QuorvaneWindow(QWidget* parent) : QDialog(parent), font_(DialogFont()), du_(font_) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(font_);
    setWindowIcon(ProgramIcon());
    Build();
    // Resizable, and no larger than the screen's work area when it opens, so
    // that the newest log lines are on a laptop's screen too.
    setMinimumSize(MinimumClientSize());
    const QScreen* screen = QGuiApplication::primaryScreen();
    resize(screen != nullptr ? FitToWorkArea(TemplateSize(), MinimumClientSize(),
                                             screen->availableGeometry().size())
                             : TemplateSize());
    Relayout();
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &QuorvaneWindow::ShowContextMenu);
    qApp->installEventFilter(this);
}

QuorvaneWindow::~QuorvaneWindow() {
    qApp->removeEventFilter(this);
    while (waitDepth_ > 0) {
        SetWaitCursor(false);
    }
}

void QuorvaneWindow::Build() {
    body_ = new QWidget(this);
    body_->setGeometry(0, 0, du_.X(571), du_.Y(389));
    body_->setContextMenuPolicy(Qt::NoContextMenu);  // the dialog's own menu shows through

    list_ =
        Place(new QTableWidget(0, kColumnCount), body_, du_, app::IDC_DEVICE_LIST, 1, 1, 570, 218);
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab and Shift+Tab leave the list like any other control; arrows move in it.
    list_->setTabKeyNavigation(false);
    list_->setWordWrap(false);
    list_->verticalHeader()->setVisible(false);
    list_->verticalHeader()->setDefaultSectionSize(QFontMetrics(font_).height() + 4);
    list_->horizontalHeader()->setSectionsClickable(true);
    list_->horizontalHeader()->setHighlightSections(false);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->horizontalHeader()->setStretchLastSection(false);
    list_->setSortingEnabled(false);
    for (int c = 0; c < kColumnCount; ++c) {
        list_->setHorizontalHeaderItem(
            c, new QTableWidgetItem(QString::fromUtf8(kColumns[c].heading)));
        list_->setColumnWidth(c, kColumns[c].width);
    }
    connect(list_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (dlg_ != nullptr) {
            dlg_->OnLvnColumnclickDeviceList(column);
        }
    });

    selectAll_ = Place(new QCheckBox(QStringLiteral("全选")), body_, du_, app::IDC_SELECT_ALL, 3,
                       223, 32, 10);
    progress_ = Place(new QProgressBar, body_, du_, app::IDC_PROGRESS, 39, 223, 373, 14);
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    logButton_ = Place(Button("升级日志"), body_, du_, app::IDC_UPGRADE_LOG, 419, 222, 44, 16);
    search_ = Place(Button("搜索设备"), body_, du_, app::IDC_SEARCH, 523, 221, 48, 28);
    Place(new QLabel(QStringLiteral("起始IP")), body_, du_, 0, 3, 243, 25, 8);
    startIp_ = Place(new IpAddressEdit, body_, du_, app::IDC_START_IP, 39, 240, 100, 15);
    modifyIp_ = Place(Button("批量修改IP"), body_, du_, app::IDC_MODIFY_IP, 142, 240, 68, 15);
    restoreIp_ = Place(Button("批量恢复默认IP"), body_, du_, app::IDC_RESTORE_IP, 212, 240, 68, 15);
    forceUpgrade_ = Place(new QCheckBox(QStringLiteral("强制升级")), body_, du_,
                          app::IDC_FORCE_UPGRADE, 467, 243, 48, 10);
    upgrade_ = Place(Button("升级"), body_, du_, app::IDC_UPGRADE, 523, 249, 48, 28);
    Place(new QLabel(QStringLiteral("升级文件")), body_, du_, 0, 3, 260, 33, 8);
    file_ = Place(new QLineEdit, body_, du_, app::IDC_FILE_EDIT, 39, 258, 373, 14);
    browse_ = Place(Button("浏览"), body_, du_, app::IDC_BROWSE, 419, 257, 44, 15);
    syncTime_ = Place(new QCheckBox(QStringLiteral("同步时间")), body_, du_, app::IDC_SYNC_TIME,
                      467, 260, 44, 10);
    Place(new QLabel(QStringLiteral("同时升级")), body_, du_, 0, 300, 243, 36, 8);
    parallel_ = Place(new QSpinBox, body_, du_, app::IDC_PARALLEL, 338, 240, 40, 15);
    parallel_->setRange(1, 30);
    parallel_->setValue(1);
    parallel_->setSuffix(QStringLiteral("台"));
    parallel_->setToolTip(QStringLiteral("同时升级的设备数（1到30台）"));
    logPane_ = Place(new QPlainTextEdit, body_, du_, app::IDC_LOG_PANE, 0, 278, 571, 108);
    logPane_->setReadOnly(true);
    // The pane is appended to without undo: no history of the whole log is kept.
    logPane_->setUndoRedoEnabled(false);
    logPane_->setLineWrapMode(QPlainTextEdit::NoWrap);
    logPane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logPane_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    // Labels and check boxes whose template box is smaller than the font's
    // line keep their text readable: their height grows around their centre.
    for (QWidget* w : body_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<QLabel*>(w) != nullptr || qobject_cast<QCheckBox*>(w) != nullptr) {
            const int need = w->sizeHint().height();
            if (w->height() < need) {
                QRect r = w->geometry();
                r.adjust(0, -(need - r.height()) / 2, 0, (need - r.height() + 1) / 2);
                w->setGeometry(r);
            }
        }
    }

    for (QWidget* w : body_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QRect r = w->geometry();
        Anchor anchor = Anchor::Band;
        if (w == list_) {
            anchor = Anchor::List;
        } else if (w == logPane_) {
            anchor = Anchor::Pane;
        } else if (w == progress_ || w == file_) {
            anchor = Anchor::BandStretch;
        } else if (r.left() >= du_.X(419)) {
            anchor = Anchor::BandRight;
        }
        placed_.push_back({w, r, anchor});
    }

    stop_ = Place(Button("停止"), this, du_, app::IDC_STOP, 419, 240, 44, 15);
    stop_->setToolTip(QStringLiteral("停止批量任务（Esc）"));
    stop_->setEnabled(false);
    stop_->raise();
    placed_.push_back({stop_, stop_->geometry(), Anchor::BandRight});
    connect(stop_, &QPushButton::clicked, this, [this] {
        if (dlg_ != nullptr) {
            dlg_->OnBnClickedStop();
        }
    });

    controls_ = {{app::IDC_DEVICE_LIST, list_},      {app::IDC_SEARCH, search_},
                 {app::IDC_FILE_EDIT, file_},        {app::IDC_UPGRADE, upgrade_},
                 {app::IDC_BROWSE, browse_},         {app::IDC_LOG_PANE, logPane_},
                 {app::IDC_UPGRADE_LOG, logButton_}, {app::IDC_SELECT_ALL, selectAll_},
                 {app::IDC_PROGRESS, progress_},     {app::IDC_SYNC_TIME, syncTime_},
                 {app::IDC_START_IP, startIp_},      {app::IDC_MODIFY_IP, modifyIp_},
                 {app::IDC_RESTORE_IP, restoreIp_},  {app::IDC_FORCE_UPGRADE, forceUpgrade_},
                 {app::IDC_PARALLEL, parallel_},     {app::IDC_STOP, stop_}};

    connect(search_, &QPushButton::clicked, this, [this] {
        if (dlg_ != nullptr) {
            dlg_->OnBnClickedSearch();
        }
    });
    connect(selectAll_, &QCheckBox::clicked, this, [this] {
        if (dlg_ != nullptr) {
            dlg_->OnBnClickedSelectAll();
        }
    });
    connect(logButton_, &QPushButton::clicked, this, [this] {
        if (dlg_ != nullptr) {
            dlg_->OnBnClickedUpgradeLog();
        }
    });
    connect(browse_, &QPushButton::clicked, this, [this] {
        if (dlg_ != nullptr) {
            dlg_->OnBnClickedBrowse();
        }
    });
    connect(modifyIp_, &QPushButton::clicked, this, [this] {
        if (dlg_ != nullptr) {
            dlg_->OnBnClickedModifyIp();
        }
    });
    connect(restoreIp_, &QPushButton::clicked, this, [this] {
        if (dlg_ != nullptr) {
            dlg_->OnBnClickedRestoreIp();
        }
    });
    connect(upgrade_, &QPushButton::clicked, this, [this] {
        if (dlg_ != nullptr) {
            dlg_->OnBnClickedUpgrade();
        }
    });
}

QSize QuorvaneWindow::TemplateSize() const {
    return {du_.X(571), du_.Y(389)};
}

QSize QuorvaneWindow::MinimumClientSize() const {
    // The band between list and pane stays whole; the list keeps a few rows
    // and the pane a few lines.
    const int band = du_.Y(389) - du_.Y(218) - du_.Y(108);
    return {du_.X(571), band + du_.Y(60) + du_.Y(50)};
}

QSize QuorvaneWindow::FitToWorkArea(QSize templateSize, QSize minimum, QSize workArea) {
    // Room for the title bar and the frame the window manager adds.
    constexpr int kFrameWidth = 16;
    constexpr int kFrameHeight = 40;
    const int w =
        std::max(minimum.width(), std::min(templateSize.width(), workArea.width() - kFrameWidth));
    const int h = std::max(minimum.height(),
                           std::min(templateSize.height(), workArea.height() - kFrameHeight));
    return {w, h};
}

void QuorvaneWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Relayout();
}

void QuorvaneWindow::Relayout() {
    if (body_ == nullptr) {
        return;
    }
    body_->setGeometry(rect());
    const QSize t = TemplateSize();
    const int dx = width() - t.width();
    const int dy = height() - t.height();
    // The list takes two thirds of the change in height, the pane the rest.
    const int listDy = dy * 2 / 3;
    const int paneDy = dy - listDy;
    for (const Placed& p : placed_) {
        QRect r = p.base;
        switch (p.anchor) {
            case Anchor::List:
                r.setWidth(r.width() + dx);
                r.setHeight(r.height() + listDy);
                break;
            case Anchor::Pane:
                r.translate(0, listDy);
                r.setWidth(r.width() + dx);
                r.setHeight(r.height() + paneDy);
                break;
            case Anchor::Band:
                r.translate(0, listDy);
                break;
            case Anchor::BandRight:
                r.translate(dx, listDy);
                break;
            case Anchor::BandStretch:
                r.translate(0, listDy);
                r.setWidth(r.width() + dx);
                break;
        }
        p.widget->setGeometry(r);
    }
}

void QuorvaneWindow::Attach(app::CQuorvaneDlg* dlg) {
    dlg_ = dlg;
}

QWidget* QuorvaneWindow::Control(app::ControlId id) const {
    const auto it = controls_.find(id);
    return it != controls_.end() ? it->second : nullptr;
}

void QuorvaneWindow::ShowContextMenu(const QPoint& pos) {
    // A disabled window (a batch or a search running) takes no input, its
    // menu included.
    if (!windowEnabled_) {
        return;
    }
    // No window manager lets us extend its system menu; the dialog's own
    // context menu carries the About item instead.
    QMenu menu(this);
    QAction* retry = menu.addAction(QStringLiteral("只勾选失败和未升级的设备"));
    QAction* exportList = menu.addAction(QStringLiteral("导出列表"));
    menu.addSeparator();
    QAction* about = menu.addAction(QStringLiteral("关于 Quorvane(&A)..."));
    QAction* chosen = menu.exec(mapToGlobal(pos));
    if (chosen == about) {
        CAboutDlg box(this);
        box.exec();
    } else if (chosen == retry && dlg_ != nullptr) {
        dlg_->TickRowsToRetry();
    } else if (chosen == exportList && dlg_ != nullptr) {
        std::optional<std::string> path;
        if (saveHook_) {
            path = saveHook_();
        } else {
            const QString chosenPath = QFileDialog::getSaveFileName(
                this, QStringLiteral("导出列表"), QStringLiteral("quorvane-list.csv"),
                QStringLiteral("CSV (*.csv)"));
            if (!chosenPath.isEmpty()) {
                path = chosenPath.toStdString();
            }
        }
        if (path) {
            dlg_->ExportList(*path);
        }
    }
}

// ---- keys and closing ----

bool QuorvaneWindow::eventFilter(QObject* watched, QEvent* event) {
    // Enter and Escape do nothing anywhere in this window (its own message
    // boxes and About box are other windows and keep their keys).
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == this) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
                // While a batch runs, Escape is the stop control's key.
                if (key == Qt::Key_Escape && event->type() == QEvent::KeyPress &&
                    stop_->isEnabled()) {
                    stop_->click();
                }
                event->accept();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void QuorvaneWindow::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void QuorvaneWindow::closeEvent(QCloseEvent* event) {
    // A batch is running: the window stays until it has ended.
    if (!windowEnabled_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void QuorvaneWindow::reject() {
    if (!windowEnabled_) {
        return;
    }
    QDialog::reject();
}

// ---- DialogView ----

void QuorvaneWindow::SetCaption(const std::string& text) {
    setWindowTitle(Q(text));
}

QTableWidgetItem* QuorvaneWindow::Item(int row, int column) const {
    if (row < 0 || row >= list_->rowCount() || column < 0 || column >= kColumnCount) {
        return nullptr;
    }
    return list_->item(row, column);
}

int QuorvaneWindow::RowCount() const {
    return list_->rowCount();
}

void QuorvaneWindow::DeleteAllRows() {
    list_->setRowCount(0);
}

int QuorvaneWindow::InsertRow() {
    const int row = list_->rowCount();
    list_->insertRow(row);
    for (int c = 0; c < kColumnCount; ++c) {
        auto* item = new QTableWidgetItem;
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (c == 0) {
            flags |= Qt::ItemIsUserCheckable;
            item->setCheckState(Qt::Unchecked);
            item->setData(Qt::UserRole, qlonglong{0});
        }
        item->setFlags(flags);
        list_->setItem(row, c, item);
    }
    return row;
}

void QuorvaneWindow::SetCellText(int row, int column, const std::string& text) {
    if (auto* item = Item(row, column)) {
        item->setText(Q(text));
    }
}

std::string QuorvaneWindow::CellText(int row, int column) const {
    const auto* item = Item(row, column);
    return item != nullptr ? item->text().toStdString() : std::string();
}

bool QuorvaneWindow::RowChecked(int row) const {
    const auto* item = Item(row, 0);
    return item != nullptr && item->checkState() == Qt::Checked;
}

void QuorvaneWindow::SetRowChecked(int row, bool checked) {
    if (auto* item = Item(row, 0)) {
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}

void QuorvaneWindow::SetItemData(int row, std::intptr_t value) {
    if (auto* item = Item(row, 0)) {
        item->setData(Qt::UserRole, qlonglong{value});
    }
}

std::intptr_t QuorvaneWindow::ItemData(int row) const {
    const auto* item = Item(row, 0);
    return item != nullptr ? static_cast<std::intptr_t>(item->data(Qt::UserRole).toLongLong()) : 0;
}

void QuorvaneWindow::ReorderRows(const std::vector<int>& order) {
    const int rows = list_->rowCount();
    if (static_cast<int>(order.size()) != rows) {
        return;
    }
    std::vector<std::vector<QTableWidgetItem*>> taken(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < kColumnCount; ++c) {
            taken[static_cast<std::size_t>(r)].push_back(list_->takeItem(r, c));
        }
    }
    for (int r = 0; r < rows; ++r) {
        const int from = order[static_cast<std::size_t>(r)];
        for (int c = 0; c < kColumnCount; ++c) {
            list_->setItem(r, c,
                           taken[static_cast<std::size_t>(from)][static_cast<std::size_t>(c)]);
        }
    }
}

void QuorvaneWindow::SetProgressRange(int low, int high) {
    // An empty range would show a busy bar; keep at least one step.
    progress_->setRange(low, std::max(high, low + 1));
}

void QuorvaneWindow::SetProgressPos(int pos) {
    progress_->setValue(std::clamp(pos, progress_->minimum(), progress_->maximum()));
}

std::string QuorvaneWindow::FileEditText() const {
    return file_->text().toStdString();
}

void QuorvaneWindow::SetFileEditText(const std::string& text) {
    file_->setText(Q(text));
}

bool QuorvaneWindow::StartIpBlank() const {
    return startIp_->IsBlank();
}

bool QuorvaneWindow::StartIpComplete() const {
    return startIp_->IsComplete();
}

std::array<std::uint8_t, 4> QuorvaneWindow::StartIp() const {
    return startIp_->Octets();
}

void QuorvaneWindow::SetStartIp(const std::array<std::uint8_t, 4>& octets) {
    startIp_->SetOctets(octets);
}

bool QuorvaneWindow::IsChecked(app::ControlId id) const {
    const auto* box = qobject_cast<const QCheckBox*>(Control(id));
    return box != nullptr && box->isChecked();
}

void QuorvaneWindow::SetChecked(app::ControlId id, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(Control(id))) {
        box->setChecked(checked);
    }
}

void QuorvaneWindow::ShowControl(app::ControlId id, bool visible) {
    if (QWidget* w = Control(id)) {
        w->setVisible(visible);
    }
}

void QuorvaneWindow::EnableWindow(bool enable) {
    // The controls live on a body widget, so that a disabled window still
    // lets its own message boxes take input.
    windowEnabled_ = enable;
    body_->setEnabled(enable);
}

void QuorvaneWindow::EnableControl(app::ControlId id, bool enable) {
    if (QWidget* w = Control(id)) {
        w->setEnabled(enable);
    }
}

void QuorvaneWindow::MessageBox(const std::string& text) {
    if (messageHook_) {
        messageHook_(text);
        return;
    }
    MakeMessageBox(text)->exec();
}

std::unique_ptr<QMessageBox> QuorvaneWindow::MakeMessageBox(const std::string& text) {
    const QString title = QStringLiteral("提示");
    auto box =
        std::make_unique<QMessageBox>(QMessageBox::NoIcon, title, Q(text), QMessageBox::Ok, this);
    box->setFont(font_);
    // A message box: a title and a close button, nothing to minimise or maximise.
    box->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowCloseButtonHint);
    if (auto* ok = box->button(QMessageBox::Ok)) {
        ok->setText(QStringLiteral("确定"));
    }
    // A short message would make the box narrower than its own title bar
    // needs for the title, the window icon and the close button.
    const QFontMetrics fm(font_);
    const int width =
        std::max(fm.horizontalAdvance(title) + 3 * fm.height() + 120, fm.averageCharWidth() * 32);
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    return box;
}

bool InstallQtTranslations() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

bool QuorvaneWindow::Confirm(const std::string& text) {
    if (confirmHook_) {
        return confirmHook_(text);
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("提示"), Q(text),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setFont(font_);
    box.setDefaultButton(QMessageBox::No);
    if (auto* yes = box.button(QMessageBox::Yes)) {
        yes->setText(QStringLiteral("是"));
    }
    if (auto* no = box.button(QMessageBox::No)) {
        no->setText(QStringLiteral("否"));
    }
    return box.exec() == QMessageBox::Yes;
}

int QuorvaneWindow::UpgradeParallel() const {
    return parallel_->value();
}

void QuorvaneWindow::SetUpgradeParallel(int count) {
    parallel_->setValue(count);
}

void QuorvaneWindow::AppendToLogPane(const std::string& text) {
    QString t = Q(text);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    logPane_->moveCursor(QTextCursor::End);
    logPane_->insertPlainText(t);
    logPane_->verticalScrollBar()->setValue(logPane_->verticalScrollBar()->maximum());
}

void QuorvaneWindow::SetWaitCursor(bool wait) {
    if (wait) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++waitDepth_;
    } else if (waitDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --waitDepth_;
    }
}

bool QuorvaneWindow::OpenInEditor(const std::string& path) {
    return platform::OpenInEditor(path);
}

QString QuorvaneWindow::BrowseStartFolder() const {
    const QString current = Q(FileEditText()).trimmed();
    if (current.isEmpty()) {
        return {};
    }
    const QFileInfo file(current);
    const QFileInfo folder(file.isDir() ? file.absoluteFilePath() : file.absolutePath());
    return folder.isDir() ? folder.absoluteFilePath() : QString();
}

std::optional<std::string> QuorvaneWindow::BrowseForFile() {
    const QString chosen = QFileDialog::getOpenFileName(this, QString(), BrowseStartFolder());
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen.toStdString();
}

void QuorvaneWindow::CameraChanged(const app::CameraRowUpdate& update) {
    // The cells hold the texts; a long reason is read whole from the tooltip.
    if (update.row < 0 || update.row >= list_->rowCount()) {
        return;
    }
    if (QTableWidgetItem* item = list_->item(update.row, kColumnCount - 1)) {
        item->setToolTip(Q(update.detail));
    }
}

void QuorvaneWindow::PostToUi(std::function<void()> fn) {
    // Queued onto this window's thread; dropped if the window is gone first.
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

}  // namespace qtview
