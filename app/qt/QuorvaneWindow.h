#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "DialogUnits.h"
#include "IpAddressEdit.h"
#include "app/DialogView.h"
#include "app/WindowDescription.h"

namespace app {
class CQuorvaneDlg;
}

namespace qtview {

// Loads Qt's own Chinese texts (file dialog, context menus, buttons) into the
// application; false when the translation files are not installed.
bool InstallQtTranslations();

// The main dialog's window: the template's controls laid out in dialog units,
// implementing the DialogView the dialog logic works through.
class QuorvaneWindow : public QDialog, public app::DialogView {
  public:
    explicit QuorvaneWindow(QWidget* parent = nullptr);
    ~QuorvaneWindow() override;

    // Connects the controls to the dialog's handlers; null disconnects.
    void Attach(app::CQuorvaneDlg* dlg);

    // Replaces the modal message box (tests).
    // Stands in for the save dialog of "导出列表" (tests).
    void SetSaveFileHook(std::function<std::optional<std::string>()> hook) {
        saveHook_ = std::move(hook);
    }
    // Stands in for the open and save dialogs of the address plan (tests).
    void SetPlanFileHook(
        std::function<std::optional<std::string>(const app::FileDialogText&)> hook) {
        planFileHook_ = std::move(hook);
    }
    void SetMessageBoxHook(std::function<void(const std::string&)> hook) {
        messageHook_ = std::move(hook);
    }
    // Replaces the modal question (tests).
    void SetConfirmHook(std::function<bool(const std::string&)> hook) {
        confirmHook_ = std::move(hook);
    }

    // The message box as MessageBox shows it, not yet shown (tests look at it).
    std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text);
    // Where 浏览 opens: the folder of the file already in the file box, when
    // it exists; empty (the dialog's own choice) otherwise.
    QString BrowseStartFolder() const;

    QWidget* Control(app::ControlId id) const;
    const DialogUnits& Units() const { return du_; }
    // The template's size in pixels, and the smallest size the window takes.
    QSize TemplateSize() const;
    QSize MinimumClientSize() const;
    // The client size the window opens with: the template's, shrunk where the
    // work area (less a frame allowance) is smaller, never below `minimum`.
    static QSize FitToWorkArea(QSize templateSize, QSize minimum, QSize workArea);
    bool WindowEnabled() const { return windowEnabled_; }

    // DialogView
    QV_DIALOG_VIEW_OVERRIDES;
    void RunWhileResponsive(const std::function<void()>& work) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void reject() override;

  private:
    void Build();
    // The widget of one control of the description, not yet placed.
    QWidget* Make(const app::ControlSpec& desc);
    QTableWidgetItem* Item(int row, int column) const;
    void ShowContextMenu(const QPoint& pos);
    // Places the controls for the current size (app::Place).
    void Relayout();

    struct Placed {
        QWidget* widget;
        app::Box base;  // pixels, at the template's size
        app::Anchor anchor;
    };
    std::vector<Placed> placed_;
    QFont font_;
    DialogUnits du_;
    app::CQuorvaneDlg* dlg_ = nullptr;
    bool windowEnabled_ = true;
    int waitDepth_ = 0;
    std::function<void(const std::string&)> messageHook_;
    std::function<std::optional<std::string>()> saveHook_;
    std::function<std::optional<std::string>(const app::FileDialogText&)> planFileHook_;
    std::function<bool(const std::string&)> confirmHook_;

    QWidget* body_ = nullptr;
    QTableWidget* list_ = nullptr;
    QProgressBar* progress_ = nullptr;
    IpAddressEdit* startIp_ = nullptr;
    QLineEdit* file_ = nullptr;
    QSpinBox* parallel_ = nullptr;
    QComboBox* adapters_ = nullptr;
    QComboBox* canary_ = nullptr;
    std::vector<app::CanaryItem> canaryItems_;  // what each item of canary_ stands for
    // On the window itself, not the body: it stays usable while a batch runs.
    QPushButton* stop_ = nullptr;
    QPlainTextEdit* logPane_ = nullptr;
    std::map<int, QWidget*> controls_;
};

}  // namespace qtview
