// The least dialog framework the window needs: a modal dialog run from a
// template, with its messages handed to virtual members. Windows only.
#pragma once

#include <windows.h>

namespace wayfarer {

class CModalDialog {
public:
    explicit CModalDialog(UINT templateId) noexcept : templateId_(templateId) {}
    virtual ~CModalDialog() = default;
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // Runs the dialog until it ends; -1 when it could not be created.
    INT_PTR DoModal(HWND parent = nullptr) noexcept;
    HWND GetSafeHwnd() const noexcept { return window_; }

protected:
    // True lets the system set the focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnTimer(UINT_PTR /*id*/) {}
    virtual void OnSize(int /*width*/, int /*height*/) {}
    virtual void OnDestroy() {}
    // Any other message; true when handled, with the dialog procedure's
    // result in `result`.
    virtual bool OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/,
                           INT_PTR& /*result*/) {
        return false;
    }
    void EndDialog(INT_PTR result) noexcept;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND window_ = nullptr;
};

}  // namespace wayfarer
