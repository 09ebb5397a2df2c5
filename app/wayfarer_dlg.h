// The application's one window: an HTML dialog whose page is the whole user
// interface. It hosts the controller, giving it the window timer, the page,
// worker threads and the message boxes, and hands the page's requests to it.
// Windows only.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "app/controller.h"
#include "app/external_dispatch.h"
#include "app/html_view.h"
#include "app/modal_dialog.h"
#include "common/handles.h"

namespace wayfarer {

class CWayfarerDlg final : public CModalDialog, public ControllerHost, public ExternalMethods {
public:
    CWayfarerDlg(CheckOperations& ops, DocumentEnvironment& env);
    ~CWayfarerDlg() override;

    // ControllerHost
    void ArmStep(int id, uint32_t delayMs) override;
    void KillStep(int id) override;
    void CallScript(const char* function, const std::vector<ScriptArg>& args) override;
    bool StartWorker(WorkerKind kind, std::function<void()> body) override;
    void RequestQuit() override;
    int Prompt(int textId, int headingId, int firstChoiceId) override;
    int Notice(int textId, int headingId) override;

    // window.external
    void install(int32_t position) override;
    void installcom(int32_t row) override;
    void installmulti(int32_t first, int32_t last) override;
    void fix(int32_t item) override;
    void check(int32_t mode) override;
    void installandfix() override;
    void stop(int32_t ignored) override;

protected:
    BOOL OnInitDialog() override;
    void OnTimer(UINT_PTR id) override;
    void OnSize(int width, int height) override;
    void OnDestroy() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void OnDocumentComplete(IDispatch* browser, std::wstring_view url);

    HICON icon_;  // shared icon from the module: not ours to destroy
    std::atomic<HWND> window_{nullptr};  // workers arm steps on it
    WayfarerController controller_;
    CHtmlView view_;
    com_ptr<CExternalDispatch> external_;
};

}  // namespace wayfarer
