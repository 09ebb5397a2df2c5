// The system's browser engine (the WebBrowser control) hosted in a window:
// our own client site and UI handler, so that the page gets our
// window.external, no context menu and no browser accelerators. Windows only.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/handles.h"

struct IWebBrowser2;
struct IOleObject;
struct IConnectionPoint;

namespace wayfarer {

class CHtmlViewSite;
class CEventSink;

class CHtmlView {
public:
    // Called for every document-complete notification, after the view's own
    // handling.
    using DocumentCompleteHandler = std::function<void(IDispatch* browser, std::wstring_view url)>;

    CHtmlView();
    ~CHtmlView();
    CHtmlView(const CHtmlView&) = delete;
    CHtmlView& operator=(const CHtmlView&) = delete;

    // DOCHOSTUIFLAG_* given to the engine whenever it asks for host
    // information.
    DWORD HostFlags() const noexcept { return hostFlags_; }
    void SetHostFlags(DWORD flags) noexcept { hostFlags_ = flags; }

    // The page's window.external.
    void SetExternal(com_ptr<IDispatch> external) noexcept { external_ = std::move(external); }
    void OnDocumentComplete(DocumentCompleteHandler handler) { documentComplete_ = std::move(handler); }
    // A click on the element with this id, or inside it.
    void OnClick(std::wstring id, std::function<void()> handler);

    // Creates the control over the whole client area of `parent`.
    HRESULT Create(HWND parent);
    // res://<module path>/<resource>: a page among the module's resources.
    HRESULT NavigateToResource(HMODULE module, UINT resource);
    void Resize(int width, int height);
    // Takes the control down; the window is going away.
    void Destroy();

    IWebBrowser2* Browser() const noexcept { return browser_.get(); }
    // The client site with its UI handler; there from Create() on, also
    // when the engine itself could not be created.
    IUnknown* Site() const noexcept;

private:
    friend class CHtmlViewSite;

    struct Connection {
        com_ptr<IConnectionPoint> point;
        DWORD cookie = 0;
        void Disconnect() noexcept;
    };

    void HandleBrowserEvent(DISPID id, DISPPARAMS* params);
    void HandleDocumentEvent(DISPID id, DISPPARAMS* params, VARIANT* result);
    void ConnectDocumentEvents();

    HWND parent_ = nullptr;
    DWORD hostFlags_ = 0;
    com_ptr<IDispatch> external_;
    DocumentCompleteHandler documentComplete_;
    std::vector<std::pair<std::wstring, std::function<void()>>> clickHandlers_;

    com_ptr<CHtmlViewSite> site_;
    com_ptr<IOleObject> object_;
    com_ptr<IWebBrowser2> browser_;
    com_ptr<CEventSink> browserSink_;
    com_ptr<CEventSink> documentSink_;
    Connection browserEvents_;
    Connection documentEvents_;
};

}  // namespace wayfarer
