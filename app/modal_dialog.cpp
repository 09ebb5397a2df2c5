#include "app/modal_dialog.h"

namespace wayfarer {

INT_PTR CModalDialog::DoModal(HWND parent) noexcept {
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent,
                             &CModalDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CModalDialog::EndDialog(INT_PTR result) noexcept {
    if (window_ != nullptr) {
        ::EndDialog(window_, result);
    }
}

INT_PTR CALLBACK CModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
    CModalDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CModalDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
    } else {
        self = reinterpret_cast<CModalDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;  // messages before WM_INITDIALOG
    }
    const INT_PTR result = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
        self->window_ = nullptr;
    }
    return result;
}

INT_PTR CModalDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = FALSE;
    if (OnMessage(message, wParam, lParam, result)) {
        return result;
    }
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_SIZE:
        OnSize(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    case WM_CLOSE:
        // Only the close box and Alt+F4 end the window: Enter and Escape
        // belong to the page, which swallows them like every accelerator.
        EndDialog(IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace wayfarer
