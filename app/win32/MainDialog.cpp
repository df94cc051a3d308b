#include "MainDialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "app/IpBatch.h"
#include "app/QuorvaneDlg.h"
#include "app/WindowDescription.h"
#include "platform/OpenInEditor.h"
#include "platform/Version.h"
#include "platform/WideText.h"
#include "resource.h"

namespace win32view {
namespace {

using platform::Utf8;
using platform::Wide;

// Reports that are not the workers' own (PostToUi) come as this message.
constexpr UINT kRunQueued = WM_APP + 1;

// The template's four, and ours: a row's tip shows its whole 详情 text.
constexpr DWORD kListStyles =
    LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_FLATSB | LVS_EX_INFOTIP;

std::wstring WindowText(HWND hwnd) {
    const int length = ::GetWindowTextLengthW(hwnd);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

// Long enough for any path Windows hands back, long-path prefix included.
constexpr DWORD kPathBuffer = 32768;

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG: {
            // The full number, the same that the console's --version prints.
            const std::wstring version = L"版本 " + Wide(platform::kVersion);
            ::SetDlgItemTextW(hwnd, IDC_ABOUT_VERSION, version.c_str());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(hwnd, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

// What the one-line question shows and, once confirmed, what was typed.
struct AskTextState {
    std::wstring title;
    std::wstring prompt;
    std::wstring text;
};

INT_PTR CALLBACK AskTextProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG: {
            auto* state = reinterpret_cast<AskTextState*>(lParam);
            ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
            ::SetWindowTextW(hwnd, state->title.c_str());
            ::SetDlgItemTextW(hwnd, IDC_ASK_PROMPT, state->prompt.c_str());
            HWND edit = ::GetDlgItem(hwnd, IDC_ASK_TEXT);
            ::SendMessageW(edit, EM_LIMITTEXT, app::kAskTextMax, 0);
            ::SetWindowTextW(edit, state->text.c_str());
            ::SendMessageW(edit, EM_SETSEL, 0, -1);
            ::SetFocus(edit);
            return FALSE;  // the focus is set
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                auto* state = reinterpret_cast<AskTextState*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
                state->text = WindowText(::GetDlgItem(hwnd, IDC_ASK_TEXT));
                ::EndDialog(hwnd, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(hwnd, IDCANCEL);
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

void ShowAboutBox(HINSTANCE instance, HWND owner) {
    ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, AboutProc, 0);
}

MainDialog::MainDialog(HINSTANCE instance) : instance_(instance) {}

MainDialog::~MainDialog() {
    if (HWND hwnd = hwnd_.exchange(nullptr)) {
        ::DestroyWindow(hwnd);
    }
    if (iconBig_ != nullptr) {
        ::DestroyIcon(iconBig_);
    }
    if (iconSmall_ != nullptr) {
        ::DestroyIcon(iconSmall_);
    }
}

bool MainDialog::Create() {
    HWND hwnd = ::CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_QUORVANE_DIALOG), nullptr,
                                     DialogProc, reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

INT_PTR CALLBACK MainDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
        self->OnInitDialog();
        return TRUE;
    }
    auto* self = reinterpret_cast<MainDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    return self != nullptr ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

void MainDialog::OnInitDialog() {
    list_ = Item(app::IDC_DEVICE_LIST);
    pane_ = Item(app::IDC_LOG_PANE);

    // The system menu's extra item, as the template's string gives it.
    if (HMENU menu = ::GetSystemMenu(hwnd_, FALSE)) {
        wchar_t text[128] = {};
        if (::LoadStringW(instance_, IDS_ABOUTBOX, text, 128) > 0) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text);
        }
    }
    iconBig_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                               IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                               ::GetSystemMetrics(SM_CYICON), 0));
    iconSmall_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                 IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), 0));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(iconBig_));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(iconSmall_));

    ListView_SetExtendedListViewStyleEx(list_, kListStyles, kListStyles);
    for (const app::ColumnSpec& c : app::kColumns) {
        std::wstring heading = Wide(c.heading);
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = c.width;
        column.pszText = heading.data();
        column.iSubItem = c.column;
        ListView_InsertColumn(list_, c.column, &column);
    }
    ::SendDlgItemMessageW(hwnd_, IDC_PARALLEL_SPIN, UDM_SETRANGE32, app::kParallelMin,
                          app::kParallelMax);
    ::SendDlgItemMessageW(hwnd_, IDC_PARALLEL_SPIN, UDM_SETPOS32, 0, 1);
    ::SendDlgItemMessageW(hwnd_, app::IDC_PARALLEL, EM_LIMITTEXT, 2, 0);
    SetUpgradeCanary({});
    ::SendMessageW(Item(app::IDC_PROGRESS), PBM_SETRANGE32, 0, 100);
    // The pane holds a whole day's lines: the rich edit's own limit of 32K
    // characters would silently drop every line after it.
    ::SendMessageW(pane_, EM_EXLIMITTEXT, 0, 64 * 1024 * 1024);

    // Every control's place at the template's size, for Relayout.
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    templateClient_ = {client.right, client.bottom};
    // The dialog font's base units, as the template's own placement used them.
    RECT base{0, 0, 4, 8};
    ::MapDialogRect(hwnd_, &base);
    const app::DialogUnits units(base.right, base.bottom);
    const int rightColumn = units.X(app::kRightColumnX);
    for (HWND child = ::GetWindow(hwnd_, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        ::GetWindowRect(child, &r);
        ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
        const app::Box box{r.left, r.top, r.right - r.left, r.bottom - r.top};
        placed_.push_back({child, box, app::AnchorOf(::GetDlgCtrlID(child), box.x, rightColumn)});
    }

    // The smallest and the opening size of the window, frame included.
    const app::Extent minClient = app::MinimumClient(units);
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
    auto frame = [&](app::Extent e) {
        RECT r{0, 0, e.w, e.h};
        ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
        return app::Extent{r.right - r.left, r.bottom - r.top};
    };
    minimumWindow_ = frame(minClient);
    RECT work{};
    if (::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) == 0) {
        work = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    }
    const app::Extent workArea{work.right - work.left, work.bottom - work.top};
    const app::Extent size = app::FitToWorkArea(frame(templateClient_), minimumWindow_, workArea);
    ::SetWindowPos(hwnd_, nullptr, work.left + std::max(0, (workArea.w - size.w) / 2),
                   work.top + std::max(0, (workArea.h - size.h) / 2), size.w, size.h,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    Relayout();
}

void MainDialog::Relayout() {
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    if (placed_.empty() || client.right <= 0 || client.bottom <= 0) {
        return;  // minimised
    }
    const int dx = client.right - templateClient_.w;
    const int dy = client.bottom - templateClient_.h;
    HDWP batch = ::BeginDeferWindowPos(static_cast<int>(placed_.size()));
    for (const Placed& p : placed_) {
        const app::Box b = app::Place(p.base, p.anchor, dx, dy);
        if (batch != nullptr) {
            batch = ::DeferWindowPos(batch, p.hwnd, nullptr, b.x, b.y, b.w, b.h,
                                     SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    if (batch != nullptr) {
        ::EndDeferWindowPos(batch);
    }
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

INT_PTR MainDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_TASK_PROGRESS:
        case WM_BATCH_DONE:
        case WM_TASK_RESULT:
        case WM_LIVE_STATE:
        case WM_TASK_PROOF:
        case kRunQueued:
            RunQueued();
            return TRUE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == app::IDC_DEVICE_LIST && header->code == LVN_COLUMNCLICK &&
                dlg_ != nullptr) {
                const auto* view = reinterpret_cast<const NMLISTVIEW*>(lParam);
                dlg_->OnLvnColumnclickDeviceList(view->iSubItem);
            } else if (header->idFrom == app::IDC_DEVICE_LIST && header->code == LVN_GETINFOTIPW) {
                auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(lParam);
                const std::wstring detail = Wide(CellText(tip->iItem, app::kColDetail));
                if (!detail.empty() && tip->pszText != nullptr && tip->cchTextMax > 0) {
                    const std::size_t room = static_cast<std::size_t>(tip->cchTextMax) - 1;
                    const std::size_t n = std::min(detail.size(), room);
                    std::copy_n(detail.begin(), n, tip->pszText);
                    tip->pszText[n] = L'\0';
                }
            }
            ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                ShowAboutBox(instance_, hwnd_);
                return TRUE;
            }
            // A batch is running: the window stays until it has ended.
            if ((wParam & 0xFFF0) == SC_CLOSE && !app::MayClose(windowEnabled_)) {
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            if (app::MayClose(windowEnabled_)) {
                ::DestroyWindow(hwnd_);
            }
            return TRUE;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return FALSE;
        case WM_NCDESTROY:
            hwnd_ = nullptr;
            return FALSE;
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) {
                Relayout();
            }
            return TRUE;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {minimumWindow_.w, minimumWindow_.h};
            return TRUE;
        }
        case WM_SETCURSOR:
            if (waitDepth_ > 0) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
                ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case WM_CONTEXTMENU:
            OnContextMenu(lParam);
            return TRUE;
        default:
            return FALSE;
    }
}

void MainDialog::OnCommand(int id, int code) {
    // IDOK and IDCANCEL have no handler: Enter and Escape close nothing.
    if (code == BN_CLICKED || (code == CBN_SELCHANGE && id == app::IDC_INTERFACE)) {
        app::Press(dlg_, id);
    }
}

void MainDialog::OnContextMenu(LPARAM lParam) {
    if (!app::MenuOpens(windowEnabled_)) {
        return;
    }
    POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (lParam == -1) {  // from the keyboard
        ::GetCursorPos(&at);
    }
    HMENU menu = ::CreatePopupMenu();
    if (menu == nullptr) {
        return;
    }
    for (const app::MenuEntry& entry : app::kContextMenu) {
        if (entry.command == app::kMenuNone) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        } else {
            ::AppendMenuW(menu, MF_STRING, entry.command, Wide(entry.text).c_str());
        }
    }
    const auto chosen = static_cast<UINT>(::TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, hwnd_, nullptr));
    ::DestroyMenu(menu);
    app::MenuSeat seat;
    seat.showAbout = [this] { ShowAboutBox(instance_, hwnd_); };
    seat.askExportPath = [this] { return AskExportPath(); };
    app::RunMenuCommand(static_cast<app::MenuCommand>(chosen), dlg_, seat);
}

std::optional<std::string> MainDialog::AskExportPath() {
    return AskFile(app::kExportDialog, true);
}

std::optional<std::string> MainDialog::AskSavePath(const app::FileDialogText& dialog) {
    return AskFile(dialog, true);
}

std::optional<std::string> MainDialog::AskOpenPath(const app::FileDialogText& dialog) {
    return AskFile(dialog, false);
}

std::optional<std::string> MainDialog::AskFile(const app::FileDialogText& d, bool save) {
    std::wstring file(kPathBuffer, L'\0');
    const std::wstring suggested = Wide(d.suggestedName);
    std::copy(suggested.begin(), suggested.end(), file.begin());
    // The filter: its name and its pattern, each ended by a NUL, then one more.
    std::wstring filter = Wide(d.filterName) + L'\0' + Wide(d.pattern) + L'\0';
    const std::wstring title = Wide(d.title);
    const std::wstring extension = Wide(d.extension);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = kPathBuffer;
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrDefExt = extension.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    if ((save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn)) == 0) {
        return std::nullopt;
    }
    file.resize(std::wcslen(file.c_str()));
    return Utf8(file);
}

// ---- the message loop ----

bool MainDialog::Swallow(const MSG& msg) {
    const HWND hwnd = hwnd_;
    if (msg.hwnd != hwnd && ::IsChild(hwnd, msg.hwnd) == FALSE) {
        return false;  // another window: a message box, the About box
    }
    const bool key = msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST;
    if (msg.message == WM_KEYDOWN || msg.message == WM_CHAR || msg.message == WM_KEYUP) {
        const app::WindowKey which = msg.wParam == VK_RETURN   ? app::WindowKey::Enter
                                     : msg.wParam == VK_ESCAPE ? app::WindowKey::Escape
                                                               : app::WindowKey::Other;
        const app::KeyAnswer answer = app::OnWindowKey(
            which, msg.message == WM_KEYDOWN, ::IsWindowEnabled(Item(app::IDC_STOP)) != FALSE);
        if (answer.pressStop) {
            app::Press(dlg_, app::IDC_STOP);
        }
        if (answer.swallow) {
            return true;
        }
    }
    // The wheel still scrolls the list and the pane.
    const bool click = (msg.message >= WM_LBUTTONDOWN && msg.message <= WM_MBUTTONDBLCLK) ||
                       (msg.message >= WM_XBUTTONDOWN && msg.message <= WM_XBUTTONDBLCLK);
    if (!key && !click) {
        return false;
    }
    return !app::TakesInput(windowEnabled_, ::GetDlgCtrlID(msg.hwnd));
}

void MainDialog::RunModalLoop() {
    ::ShowWindow(hwnd_, SW_SHOW);
    ::UpdateWindow(hwnd_);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (hwnd_ != nullptr && Swallow(msg)) {
            continue;
        }
        if (hwnd_ == nullptr || ::IsDialogMessageW(hwnd_, &msg) == FALSE) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

void MainDialog::RunWhileResponsive(const std::function<void()>& work) {
    // The loop of RunModalLoop, until the work is done: the window is disabled
    // but for the stop, whose click and key still arrive.
    std::atomic<bool> done{false};
    const DWORD uiThread = ::GetCurrentThreadId();
    std::thread worker([&work, &done, uiThread] {
        work();
        done = true;
        ::PostThreadMessageW(uiThread, WM_NULL, 0, 0);  // wakes GetMessage
    });
    MSG msg;
    while (!done) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) {
                ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the outer loop
            }
            break;
        }
        if (hwnd_ != nullptr && Swallow(msg)) {
            continue;
        }
        if (hwnd_ == nullptr || ::IsDialogMessageW(hwnd_, &msg) == FALSE) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    worker.join();
}

void MainDialog::PostToUi(std::function<void()> fn) {
    PostReport(kRunQueued, std::move(fn));
}

void MainDialog::PostReport(unsigned message, std::function<void()> fn) {
    // Queued here, posted as the window message: the queue keeps the order
    // however the handlers nest (a completion message box runs a loop of its
    // own), and a report whose window is gone is dropped with the view.
    std::lock_guard<std::mutex> lock(queueMutex_);
    queue_.push_back(std::move(fn));
    if (HWND hwnd = hwnd_) {
        ::PostMessageW(hwnd, message, 0, 0);
    }
}

void MainDialog::RunQueued() {
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            if (queue_.empty()) {
                return;
            }
            fn = std::move(queue_.front());
            queue_.pop_front();
        }
        fn();
    }
}

// ---- DialogView ----

void MainDialog::SetCaption(const std::string& text) {
    ::SetWindowTextW(hwnd_, Wide(text).c_str());
}

int MainDialog::RowCount() const {
    return static_cast<int>(ListView_GetItemCount(list_));
}

void MainDialog::DeleteAllRows() {
    ListView_DeleteAllItems(list_);
}

int MainDialog::InsertRow() {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = RowCount();
    item.pszText = const_cast<wchar_t*>(L"");
    item.lParam = 0;
    return static_cast<int>(ListView_InsertItem(list_, &item));
}

void MainDialog::SetCellText(int row, int column, const std::string& text) {
    if (!ValidRow(row) || column < 0 || column >= app::kColumnCount) {
        return;
    }
    std::wstring wide = Wide(text);
    ListView_SetItemText(list_, row, column, wide.data());
}

std::string MainDialog::CellText(int row, int column) const {
    if (!ValidRow(row) || column < 0 || column >= app::kColumnCount) {
        return {};
    }
    // The control copies at most the buffer's size and says how much it
    // copied: grow until the text fits with room to spare.
    for (std::size_t size = 256; size <= (1U << 20); size *= 4) {
        std::wstring buffer(size, L'\0');
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(size);
        const auto got = static_cast<std::size_t>(::SendMessageW(
            list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (got + 1 < size) {
            buffer.resize(got);
            return Utf8(buffer);
        }
    }
    return {};
}

bool MainDialog::RowChecked(int row) const {
    return ValidRow(row) && ListView_GetCheckState(list_, row) != FALSE;
}

void MainDialog::SetRowChecked(int row, bool checked) {
    if (ValidRow(row)) {
        ListView_SetCheckState(list_, row, checked ? TRUE : FALSE);
    }
}

void MainDialog::SetItemData(int row, std::intptr_t data) {
    if (!ValidRow(row)) {
        return;
    }
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.lParam = static_cast<LPARAM>(data);
    ListView_SetItem(list_, &item);
}

std::intptr_t MainDialog::ItemData(int row) const {
    if (!ValidRow(row)) {
        return 0;
    }
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    return ListView_GetItem(list_, &item) != FALSE ? static_cast<std::intptr_t>(item.lParam) : 0;
}

void MainDialog::ReorderRows(const std::vector<int>& order) {
    const int rows = RowCount();
    if (static_cast<int>(order.size()) != rows) {
        return;
    }
    // The control sorts by item data: give each row its place to be as its
    // data, sort, then give every row its own data back.
    std::vector<std::intptr_t> data(static_cast<std::size_t>(rows));
    std::vector<int> place(static_cast<std::size_t>(rows), -1);
    for (int r = 0; r < rows; ++r) {
        const int from = order[static_cast<std::size_t>(r)];
        if (from < 0 || from >= rows || place[static_cast<std::size_t>(from)] != -1) {
            return;  // not a permutation
        }
        place[static_cast<std::size_t>(from)] = r;
    }
    for (int r = 0; r < rows; ++r) {
        data[static_cast<std::size_t>(r)] = ItemData(r);
        SetItemData(r, place[static_cast<std::size_t>(r)]);
    }
    ListView_SortItems(
        list_, [](LPARAM a, LPARAM b, LPARAM) -> int { return a < b ? -1 : (a > b ? 1 : 0); }, 0);
    for (int r = 0; r < rows; ++r) {
        SetItemData(r, data[static_cast<std::size_t>(order[static_cast<std::size_t>(r)])]);
    }
}

void MainDialog::SetProgressRange(int low, int high) {
    ::SendMessageW(Item(app::IDC_PROGRESS), PBM_SETRANGE32, static_cast<WPARAM>(low),
                   static_cast<LPARAM>(app::ProgressHigh(low, high)));
}

void MainDialog::SetProgressPos(int pos) {
    ::SendMessageW(Item(app::IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

std::string MainDialog::FileEditText() const {
    return Utf8(WindowText(Item(app::IDC_FILE_EDIT)));
}

void MainDialog::SetFileEditText(const std::string& text) {
    ::SetWindowTextW(Item(app::IDC_FILE_EDIT), Wide(text).c_str());
}

bool MainDialog::StartIpBlank() const {
    return ::SendMessageW(Item(app::IDC_START_IP), IPM_ISBLANK, 0, 0) != 0;
}

bool MainDialog::StartIpComplete() const {
    DWORD address = 0;
    return ::SendMessageW(Item(app::IDC_START_IP), IPM_GETADDRESS, 0,
                          reinterpret_cast<LPARAM>(&address)) == 4;
}

std::array<std::uint8_t, 4> MainDialog::StartIp() const {
    DWORD address = 0;
    ::SendMessageW(Item(app::IDC_START_IP), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    return {static_cast<std::uint8_t>(FIRST_IPADDRESS(address)),
            static_cast<std::uint8_t>(SECOND_IPADDRESS(address)),
            static_cast<std::uint8_t>(THIRD_IPADDRESS(address)),
            static_cast<std::uint8_t>(FOURTH_IPADDRESS(address))};
}

void MainDialog::SetStartIp(const std::array<std::uint8_t, 4>& octets) {
    ::SendMessageW(Item(app::IDC_START_IP), IPM_SETADDRESS, 0,
                   static_cast<LPARAM>(MAKEIPADDRESS(octets[0], octets[1], octets[2], octets[3])));
}

std::string MainDialog::AddressText(app::ControlId id) const {
    DWORD address = 0;
    const LRESULT filled =
        ::SendMessageW(Item(id), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    if (filled == 0) {
        return {};
    }
    if (filled != 4) {
        return "不完整";  // a blank field reads 0: refused rather than taken as 0
    }
    return std::to_string(FIRST_IPADDRESS(address)) + "." +
           std::to_string(SECOND_IPADDRESS(address)) + "." +
           std::to_string(THIRD_IPADDRESS(address)) + "." +
           std::to_string(FOURTH_IPADDRESS(address));
}

void MainDialog::SetAddressText(app::ControlId id, const std::string& text) {
    const auto octets = app::ParseDottedIpv4(text);
    if (!octets) {
        ::SendMessageW(Item(id), IPM_CLEARADDRESS, 0, 0);
        return;
    }
    ::SendMessageW(
        Item(id), IPM_SETADDRESS, 0,
        static_cast<LPARAM>(MAKEIPADDRESS((*octets)[0], (*octets)[1], (*octets)[2], (*octets)[3])));
}

bool MainDialog::IsChecked(app::ControlId id) const {
    return ::IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
}

void MainDialog::SetChecked(app::ControlId id, bool checked) {
    ::CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void MainDialog::ShowControl(app::ControlId id, bool visible) {
    ::ShowWindow(Item(id), visible ? SW_SHOW : SW_HIDE);
}

void MainDialog::EnableWindow(bool enable) {
    // Not the system's disable: that would take the stop control with it.
    // The message loop holds back keys and clicks instead, and the close box
    // and Alt+F4 do nothing; the controls the logic disables grey out.
    windowEnabled_ = enable;
}

void MainDialog::EnableControl(app::ControlId id, bool enable) {
    ::EnableWindow(Item(id), enable ? TRUE : FALSE);
}

void MainDialog::MessageBox(const std::string& text) {
    ::MessageBoxW(hwnd_, Wide(text).c_str(), L"提示", MB_OK);
}

bool MainDialog::Confirm(const std::string& text) {
    return ::MessageBoxW(hwnd_, Wide(text).c_str(), L"提示", MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

int MainDialog::UpgradeParallel() const {
    BOOL ok = FALSE;
    const UINT value = ::GetDlgItemInt(hwnd_, app::IDC_PARALLEL, &ok, FALSE);
    return ok != FALSE
               ? static_cast<int>(std::clamp<UINT>(value, app::kParallelMin, app::kParallelMax))
               : app::kParallelMin;
}

void MainDialog::SetUpgradeParallel(int count) {
    ::SendDlgItemMessageW(hwnd_, IDC_PARALLEL_SPIN, UDM_SETPOS32, 0,
                          std::clamp(count, app::kParallelMin, app::kParallelMax));
}

Canary MainDialog::UpgradeCanary() const {
    const LRESULT i = ::SendDlgItemMessageW(hwnd_, app::IDC_CANARY, CB_GETCURSEL, 0, 0);
    return i >= 0 && static_cast<size_t>(i) < canaryItems_.size()
               ? canaryItems_[static_cast<size_t>(i)].canary
               : Canary{};
}

void MainDialog::SetUpgradeCanary(const Canary& canary) {
    canaryItems_ = app::CanaryItems(canary);
    const HWND box = ::GetDlgItem(hwnd_, app::IDC_CANARY);
    ::SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const app::CanaryItem& item : canaryItems_) {
        ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item.text).c_str()));
    }
    ::SendMessageW(box, CB_SETCURSEL,
                   static_cast<WPARAM>(app::CanaryItemIndex(canaryItems_, canary)), 0);
}

void MainDialog::SetAdapterItems(const std::vector<std::string>& items, int selected) {
    const HWND box = ::GetDlgItem(hwnd_, app::IDC_INTERFACE);
    ::SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items) {
        ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
    }
    ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int MainDialog::ChosenAdapterItem() const {
    const LRESULT i = ::SendDlgItemMessageW(hwnd_, app::IDC_INTERFACE, CB_GETCURSEL, 0, 0);
    return i == CB_ERR ? 0 : static_cast<int>(i);
}

void MainDialog::AppendToLogPane(const std::string& text) {
    const std::wstring wide = Wide(text);
    const int end = ::GetWindowTextLengthW(pane_);
    ::SendMessageW(pane_, EM_SETSEL, static_cast<WPARAM>(end), end);
    ::SendMessageW(pane_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
    ::PostMessageW(pane_, WM_VSCROLL, SB_BOTTOM, 0);
}

void MainDialog::SetWaitCursor(bool wait) {
    if (wait) {
        ++waitDepth_;
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    } else if (waitDepth_ > 0 && --waitDepth_ == 0) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    }
}

bool MainDialog::OpenInEditor(const std::string& path) {
    return platform::OpenInEditor(path);
}

std::optional<std::string> MainDialog::BrowseForFile() {
    std::wstring file(kPathBuffer, L'\0');
    const std::wstring startFolder = Wide(app::BrowseStartFolder(FileEditText()));
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = kPathBuffer;
    ofn.lpstrInitialDir = startFolder.empty() ? nullptr : startFolder.c_str();
    // The working folder stays where it was: relative paths of the command
    // line keep their meaning.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
    if (::GetOpenFileNameW(&ofn) == 0) {
        return std::nullopt;
    }
    file.resize(std::wcslen(file.c_str()));
    return Utf8(file);
}

std::optional<std::string> MainDialog::AskText(const std::string& title, const std::string& prompt,
                                               const std::string& initial) {
    AskTextState state{Wide(title), Wide(prompt), Wide(initial)};
    const INT_PTR chosen = ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ASK_TEXT), hwnd_,
                                             AskTextProc, reinterpret_cast<LPARAM>(&state));
    if (chosen != IDOK) {
        return std::nullopt;
    }
    return Utf8(state.text);
}

void MainDialog::CameraChanged(const app::CameraRowUpdate&) {
    // The 详情 cell holds the reason; the row's tip shows it whole.
}

}  // namespace win32view
