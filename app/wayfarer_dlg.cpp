#include "app/wayfarer_dlg.h"

#include <mshtmhst.h>

#include <new>
#include <string>
#include <thread>
#include <utility>

#include "app/browser_launch.h"
#include "app/messages.h"
#include "app/res/resource.h"
#include "app/script_call.h"
#include "app/window_timer.h"

namespace wayfarer {

namespace {

// Posted by RequestQuit from a thread other than the window's.
constexpr UINT kQuitMessage = WM_APP + 0x103;

constexpr int kWindowWidth = 836;
constexpr int kWindowHeight = 592;

// The page's function names are plain ASCII.
std::wstring AsciiToWide(const char* text) {
    std::wstring wide;
    for (; text != nullptr && *text != '\0'; ++text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    }
    return wide;
}

}  // namespace

CWayfarerDlg::CWayfarerDlg(CheckOperations& ops, DocumentEnvironment& env)
    : CModalDialog(IDD_WAYFARER_DIALOG),
      icon_(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      controller_(*this, ops, env) {}

CWayfarerDlg::~CWayfarerDlg() {
    if (external_) {
        external_->Disconnect();
    }
}

BOOL CWayfarerDlg::OnInitDialog() {
    const HWND window = GetSafeHwnd();
    window_.store(window);
    SetMessageOwner(window);

    // Themed controls, no border, no scroll bars.
    view_.SetHostFlags(DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_THEME);
    view_.OnDocumentComplete(
        [this](IDispatch* browser, std::wstring_view url) { OnDocumentComplete(browser, url); });
    view_.OnClick(L"onOpen", [] { OpenBankSite(); });
    // Without a browser engine the window stays empty, and the sequence,
    // which starts when the page has loaded, does not start.
    if (SUCCEEDED(view_.Create(window))) {
        view_.NavigateToResource(::GetModuleHandleW(nullptr), IDR_HTML_PAGE);
    }

    ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    external_ = CExternalDispatch::Create(*this);
    if (external_) {
        view_.SetExternal(com_ptr<IDispatch>(external_.copy().detach()));
    }
    view_.SetHostFlags(view_.HostFlags() | DOCHOSTUIFLAG_DIALOG);

    ::SetWindowPos(window, nullptr, 0, 0, kWindowWidth, kWindowHeight, SWP_NOMOVE | SWP_NOZORDER);
    controller_.Start();
    return TRUE;
}

void CWayfarerDlg::OnDocumentComplete(IDispatch* /*browser*/, std::wstring_view /*url*/) {
    controller_.OnDocumentComplete();
}

void CWayfarerDlg::OnTimer(UINT_PTR id) {
    if (id >= 1 && id <= 18) {
        controller_.OnTimer(static_cast<int>(id));
    }
}

void CWayfarerDlg::OnSize(int width, int height) { view_.Resize(width, height); }

void CWayfarerDlg::OnDestroy() {
    // Armed steps die with the window; page calls stop here.
    if (external_) {
        external_->Disconnect();
    }
    view_.Destroy();
    SetMessageOwner(nullptr);
    window_.store(nullptr);
}

bool CWayfarerDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (HandleWindowTimerMessage(GetSafeHwnd(), message, wParam, lParam)) {
        result = TRUE;
        return true;
    }
    if (message == kQuitMessage) {
        ::PostQuitMessage(0);
        result = TRUE;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- host

void CWayfarerDlg::ArmStep(int id, uint32_t delayMs) {
    ArmWindowTimer(window_.load(), static_cast<UINT_PTR>(id), delayMs);
}

void CWayfarerDlg::KillStep(int id) { KillWindowTimer(window_.load(), static_cast<UINT_PTR>(id)); }

void CWayfarerDlg::CallScript(const char* function, const std::vector<ScriptArg>& args) {
    // A page that is not (yet) there drops the report.
    wayfarer::CallScript(view_.Browser(), AsciiToWide(function), args);
}

bool CWayfarerDlg::StartWorker(WorkerKind /*kind*/, std::function<void()> body) {
    try {
        // Never joined: the process ends when the window closes.
        std::thread([work = std::move(body)] {
            try {
                work();
            } catch (...) {  // a worker's failure must not end the process
            }
        }).detach();
        return true;
    } catch (...) {
        return false;
    }
}

void CWayfarerDlg::RequestQuit() {
    const HWND window = window_.load();
    if (window != nullptr && ::GetWindowThreadProcessId(window, nullptr) != ::GetCurrentThreadId()) {
        ::PostMessageW(window, kQuitMessage, 0, 0);  // the quit belongs to the window's thread
        return;
    }
    ::PostQuitMessage(0);
}

int CWayfarerDlg::Prompt(int textId, int headingId, int firstChoiceId) {
    return wayfarer::Prompt(textId, headingId, firstChoiceId);
}

int CWayfarerDlg::Notice(int textId, int headingId) { return wayfarer::Notice(textId, headingId); }

// ---------------------------------------------------------------- window.external

void CWayfarerDlg::install(int32_t position) { controller_.install(position); }
void CWayfarerDlg::installcom(int32_t row) { controller_.installcom(row); }
void CWayfarerDlg::installmulti(int32_t first, int32_t last) {
    controller_.installmulti(first, last);
}
void CWayfarerDlg::fix(int32_t item) { controller_.fix(item); }
void CWayfarerDlg::check(int32_t mode) { controller_.check(mode); }
void CWayfarerDlg::installandfix() { controller_.installandfix(); }
void CWayfarerDlg::stop(int32_t ignored) { controller_.stop(ignored); }

}  // namespace wayfarer
