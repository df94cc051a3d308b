#include "QuorvaneWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QScreen>
#include <QScrollBar>
#include <QSpacerItem>
#include <QTranslator>
#include <algorithm>
#include <thread>

#include "AboutDialog.h"
#include "app/IpBatch.h"
#include "app/QuorvaneDlg.h"
#include "app/WindowDescription.h"
#include "platform/OpenInEditor.h"

namespace qtview {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QPushButton* Button(const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text));
    // Enter presses no button: no default, no auto-default.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

app::WindowKey KeyOf(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        return app::WindowKey::Enter;
    }
    return key == Qt::Key_Escape ? app::WindowKey::Escape : app::WindowKey::Other;
}

// The text of the label drawn by control `id`'s own widget (the number box's unit).
QString PartLabel(int id) {
    for (const app::ControlSpec& c : app::kControls) {
        if (c.partOf == id && c.kind == app::ControlKind::Label) {
            return QString::fromUtf8(c.text);
        }
    }
    return {};
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
    body_->setGeometry(0, 0, du_.X(app::kTemplateSize.w), du_.Y(app::kTemplateSize.h));
    body_->setContextMenuPolicy(Qt::NoContextMenu);  // the dialog's own menu shows through

    std::vector<QWidget*> made;
    for (const app::ControlSpec& desc : app::kControls) {
        if (desc.partOf != 0) {
            continue;  // the spin box draws its arrows and its unit itself
        }
        QWidget* w = Make(desc);
        // Those usable while a batch runs sit on the window, not on the body
        // that a batch disables.
        w->setParent(desc.usableWhileBusy ? static_cast<QWidget*>(this) : body_);
        w->setGeometry(du_.Rect(desc.box));
        if (desc.id > 0) {
            w->setObjectName(QString::number(desc.id));
            controls_[desc.id] = w;
        }
        if (desc.tip != nullptr) {
            w->setToolTip(QString::fromUtf8(desc.tip));
        }
        if (desc.disabledAtStart) {
            w->setEnabled(false);
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w);
            button && app::Press(nullptr, desc.id)) {
            connect(button, &QAbstractButton::clicked, this,
                    [this, id = desc.id] { app::Press(dlg_, id); });
        }
        made.push_back(w);
    }
    stop_->raise();

    // Labels and check boxes whose template box is smaller than the font's
    // line keep their text readable: their height grows around their centre.
    for (QWidget* w : made) {
        if (qobject_cast<QLabel*>(w) != nullptr || qobject_cast<QCheckBox*>(w) != nullptr) {
            const int need = w->sizeHint().height();
            if (w->height() < need) {
                QRect r = w->geometry();
                r.adjust(0, -(need - r.height()) / 2, 0, (need - r.height() + 1) / 2);
                w->setGeometry(r);
            }
        }
    }
    const int rightColumn = du_.X(app::kRightColumnX);
    for (QWidget* w : made) {
        const QRect r = w->geometry();
        const int id = w->objectName().isEmpty() ? app::kLabelId : w->objectName().toInt();
        placed_.push_back(
            {w, {r.x(), r.y(), r.width(), r.height()}, app::AnchorOf(id, r.left(), rightColumn)});
    }
}

QWidget* QuorvaneWindow::Make(const app::ControlSpec& desc) {
    const QString text = QString::fromUtf8(desc.text);
    switch (desc.kind) {
        case app::ControlKind::List:
            list_ = new QTableWidget(0, app::kColumnCount);
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
            for (const app::ColumnSpec& c : app::kColumns) {
                list_->setHorizontalHeaderItem(c.column,
                                               new QTableWidgetItem(QString::fromUtf8(c.heading)));
                list_->setColumnWidth(c.column, c.width);
            }
            connect(list_->horizontalHeader(), &QHeaderView::sectionClicked, this,
                    [this](int column) {
                        if (dlg_ != nullptr) {
                            dlg_->OnLvnColumnclickDeviceList(column);
                        }
                    });
            return list_;
        case app::ControlKind::CheckBox:
            return new QCheckBox(text);
        case app::ControlKind::Progress:
            progress_ = new QProgressBar;
            progress_->setTextVisible(false);
            progress_->setRange(0, 100);
            progress_->setValue(0);
            return progress_;
        case app::ControlKind::Button: {
            QPushButton* b = Button(desc.text);
            if (desc.id == app::IDC_STOP) {
                stop_ = b;
            }
            return b;
        }
        case app::ControlKind::IpAddress: {
            auto* edit = new IpAddressEdit;
            if (desc.id == app::IDC_START_IP) {
                startIp_ = edit;
            }
            return edit;
        }
        case app::ControlKind::Number:
            parallel_ = new QSpinBox;
            parallel_->setRange(app::kParallelMin, app::kParallelMax);
            parallel_->setValue(text.toInt());
            parallel_->setSuffix(PartLabel(desc.id));
            return parallel_;
        case app::ControlKind::Edit:
            file_ = new QLineEdit;
            return file_;
        case app::ControlKind::LogPane:
            logPane_ = new QPlainTextEdit;
            logPane_->setReadOnly(true);
            // The pane is appended to without undo: no history of the whole log is kept.
            logPane_->setUndoRedoEnabled(false);
            logPane_->setLineWrapMode(QPlainTextEdit::NoWrap);
            logPane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            logPane_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            return logPane_;
        case app::ControlKind::DropDown:
            if (desc.id == app::IDC_CANARY) {
                canary_ = new QComboBox;
                canaryItems_ = app::CanaryItems({});
                for (const app::CanaryItem& item : canaryItems_) {
                    canary_->addItem(Q(item.text));
                }
                return canary_;
            }
            adapters_ = new QComboBox;
            adapters_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
            // A choice by the technician, never one the dialog made.
            connect(adapters_, &QComboBox::activated, this,
                    [this, id = desc.id] { app::Press(dlg_, id); });
            return adapters_;
        case app::ControlKind::Label:
        case app::ControlKind::Arrows:
            break;
    }
    return new QLabel(text);
}

QSize QuorvaneWindow::TemplateSize() const {
    const app::Extent t = app::TemplateClient(du_);
    return {t.w, t.h};
}

QSize QuorvaneWindow::MinimumClientSize() const {
    const app::Extent m = app::MinimumClient(du_);
    return {m.w, m.h};
}

QSize QuorvaneWindow::FitToWorkArea(QSize templateSize, QSize minimum, QSize workArea) {
    // Room for the title bar and the frame the window manager adds.
    constexpr int kFrameWidth = 16;
    constexpr int kFrameHeight = 40;
    const app::Extent fit = app::FitToWorkArea(
        {templateSize.width(), templateSize.height()}, {minimum.width(), minimum.height()},
        {workArea.width() - kFrameWidth, workArea.height() - kFrameHeight});
    return {fit.w, fit.h};
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
    for (const Placed& p : placed_) {
        const app::Box b = app::Place(p.base, p.anchor, width() - t.width(), height() - t.height());
        p.widget->setGeometry(b.x, b.y, b.w, b.h);
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
    if (!app::MenuOpens(windowEnabled_)) {
        return;
    }
    // No window manager lets us extend its system menu; the dialog's own
    // context menu carries the About item instead.
    QMenu menu(this);
    std::map<QAction*, app::MenuCommand> commands;
    for (const app::MenuEntry& entry : app::kContextMenu) {
        if (entry.command == app::kMenuNone) {
            menu.addSeparator();
        } else {
            commands[menu.addAction(QString::fromUtf8(entry.text))] = entry.command;
        }
    }
    const auto chosen = commands.find(menu.exec(mapToGlobal(pos)));
    if (chosen == commands.end()) {
        return;
    }
    app::MenuSeat seat;
    seat.showAbout = [this] {
        CAboutDlg box(this);
        box.exec();
    };
    seat.askExportPath = [this]() -> std::optional<std::string> {
        if (saveHook_) {
            return saveHook_();
        }
        const auto& d = app::kExportDialog;
        const QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8(d.title),
                                                          QString::fromUtf8(d.suggestedName),
                                                          QString::fromUtf8(d.filterName));
        if (path.isEmpty()) {
            return std::nullopt;
        }
        return path.toStdString();
    };
    app::RunMenuCommand(chosen->second, dlg_, seat);
}

// ---- keys and closing ----

bool QuorvaneWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == this) {
            const app::KeyAnswer answer =
                app::OnWindowKey(KeyOf(static_cast<QKeyEvent*>(event)->key()),
                                 event->type() == QEvent::KeyPress, stop_->isEnabled());
            if (answer.swallow) {
                if (answer.pressStop) {
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
    if (app::OnWindowKey(KeyOf(event->key()), true, false).swallow) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void QuorvaneWindow::closeEvent(QCloseEvent* event) {
    if (!app::MayClose(windowEnabled_)) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void QuorvaneWindow::reject() {
    if (!app::MayClose(windowEnabled_)) {
        return;
    }
    QDialog::reject();
}

// ---- DialogView ----

void QuorvaneWindow::SetCaption(const std::string& text) {
    setWindowTitle(Q(text));
}

QTableWidgetItem* QuorvaneWindow::Item(int row, int column) const {
    if (row < 0 || row >= list_->rowCount() || column < 0 || column >= app::kColumnCount) {
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
    for (int c = 0; c < app::kColumnCount; ++c) {
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
        for (int c = 0; c < app::kColumnCount; ++c) {
            taken[static_cast<std::size_t>(r)].push_back(list_->takeItem(r, c));
        }
    }
    for (int r = 0; r < rows; ++r) {
        const int from = order[static_cast<std::size_t>(r)];
        for (int c = 0; c < app::kColumnCount; ++c) {
            list_->setItem(r, c,
                           taken[static_cast<std::size_t>(from)][static_cast<std::size_t>(c)]);
        }
    }
}

void QuorvaneWindow::SetProgressRange(int low, int high) {
    // An empty range would show a busy bar; keep at least one step.
    progress_->setRange(low, app::ProgressHigh(low, high));
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

std::string QuorvaneWindow::AddressText(app::ControlId id) const {
    const auto* edit = dynamic_cast<const IpAddressEdit*>(Control(id));
    if (edit == nullptr || edit->IsBlank()) {
        return {};
    }
    // The fields' own texts: a blank one stays empty, so that it is refused.
    std::string text;
    for (int i = 0; i < 4; ++i) {
        text += (i > 0 ? "." : "") + edit->Field(i)->text().toStdString();
    }
    return text;
}

void QuorvaneWindow::SetAddressText(app::ControlId id, const std::string& text) {
    auto* edit = dynamic_cast<IpAddressEdit*>(Control(id));
    if (edit == nullptr) {
        return;
    }
    const auto octets = app::ParseDottedIpv4(text);
    if (octets) {
        edit->SetOctets(*octets);
    } else {
        edit->Clear();
    }
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

Canary QuorvaneWindow::UpgradeCanary() const {
    const int i = canary_->currentIndex();
    return i >= 0 && static_cast<size_t>(i) < canaryItems_.size()
               ? canaryItems_[static_cast<size_t>(i)].canary
               : Canary{};
}

void QuorvaneWindow::SetUpgradeCanary(const Canary& canary) {
    canaryItems_ = app::CanaryItems(canary);
    canary_->clear();
    for (const app::CanaryItem& item : canaryItems_) {
        canary_->addItem(Q(item.text));
    }
    canary_->setCurrentIndex(app::CanaryItemIndex(canaryItems_, canary));
}

void QuorvaneWindow::SetAdapterItems(const std::vector<std::string>& items, int selected) {
    adapters_->clear();
    for (const std::string& item : items) {
        adapters_->addItem(Q(item));
    }
    adapters_->setCurrentIndex(selected);
}

int QuorvaneWindow::ChosenAdapterItem() const {
    return std::max(adapters_->currentIndex(), 0);
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
    return Q(app::BrowseStartFolder(FileEditText()));
}

std::optional<std::string> QuorvaneWindow::BrowseForFile() {
    const QString chosen = QFileDialog::getOpenFileName(this, QString(), BrowseStartFolder());
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen.toStdString();
}

std::optional<std::string> QuorvaneWindow::AskSavePath(const app::FileDialogText& dialog) {
    if (planFileHook_) {
        return planFileHook_(dialog);
    }
    const QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8(dialog.title),
                                                      QString::fromUtf8(dialog.suggestedName),
                                                      QString::fromUtf8(dialog.filterName));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}

std::optional<std::string> QuorvaneWindow::AskOpenPath(const app::FileDialogText& dialog) {
    if (planFileHook_) {
        return planFileHook_(dialog);
    }
    const QString path = QFileDialog::getOpenFileName(
        this, QString::fromUtf8(dialog.title), QString(), QString::fromUtf8(dialog.filterName));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}

std::optional<std::string> QuorvaneWindow::AskText(const std::string& title,
                                                   const std::string& prompt,
                                                   const std::string& initial) {
    QInputDialog box(this);
    box.setObjectName(QStringLiteral("askText"));
    box.setWindowTitle(Q(title));
    box.setLabelText(Q(prompt));
    box.setTextValue(Q(initial));
    box.setOkButtonText(QStringLiteral("确定"));
    box.setCancelButtonText(QStringLiteral("取消"));
    // One line: the dialog's own check bounds what it takes, the box what it holds.
    if (auto* edit = box.findChild<QLineEdit*>()) {
        edit->setMaxLength(app::kAskTextMax);
    }
    if (box.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return box.textValue().toStdString();
}

void QuorvaneWindow::CameraChanged(const app::CameraRowUpdate& update) {
    // The cells hold the texts; a long reason is read whole from the tooltip.
    if (update.row < 0 || update.row >= list_->rowCount()) {
        return;
    }
    if (QTableWidgetItem* item = list_->item(update.row, app::kColDetail)) {
        item->setToolTip(Q(update.detail));
    }
}

void QuorvaneWindow::RunWhileResponsive(const std::function<void()>& work) {
    // The window is disabled but for the stop; its events go on meanwhile.
    QEventLoop loop;
    std::thread worker([&work, &loop] {
        work();
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

void QuorvaneWindow::PostToUi(std::function<void()> fn) {
    // Queued onto this window's thread; dropped if the window is gone first.
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

}  // namespace qtview
