#include "app/html_view.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <ocidl.h>
#include <ole2.h>

#include <atomic>
#include <new>

namespace wayfarer {

// The in-place site the control lives in, and its UI handler. It reaches the
// view through a pointer that Destroy() clears, since the engine may keep the
// site a little longer than the view lives.
class CHtmlViewSite final : public IOleClientSite,
                            public IOleInPlaceSite,
                            public IOleInPlaceFrame,
                            public IDocHostUIHandler {
public:
    static com_ptr<CHtmlViewSite> Create(CHtmlView& view) {
        return com_ptr<CHtmlViewSite>(new (std::nothrow) CHtmlViewSite(view));
    }
    void Detach() noexcept { view_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
            *object = static_cast<IOleClientSite*>(this);
        } else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite)) {
            *object = static_cast<IOleInPlaceSite*>(this);
        } else if (IsEqualIID(riid, IID_IOleInPlaceUIWindow) ||
                   IsEqualIID(riid, IID_IOleInPlaceFrame)) {
            *object = static_cast<IOleInPlaceFrame*>(this);
        } else if (IsEqualIID(riid, IID_IDocHostUIHandler)) {
            *object = static_cast<IDocHostUIHandler*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker != nullptr) {
            *moniker = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
        if (container != nullptr) {
            *container = nullptr;
        }
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (for both the site and the frame)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        if (window == nullptr) {
            return E_POINTER;
        }
        *window = view_ != nullptr ? view_->parent_ : nullptr;
        return *window != nullptr ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                               LPRECT position, LPRECT clip,
                                               LPOLEINPLACEFRAMEINFO info) override {
        if (frame == nullptr || doc == nullptr || position == nullptr || clip == nullptr ||
            info == nullptr) {
            return E_POINTER;
        }
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *doc = nullptr;
        const HWND parent = view_ != nullptr ? view_->parent_ : nullptr;
        if (parent == nullptr || !::GetClientRect(parent, position)) {
            ::SetRectEmpty(position);
        }
        *clip = *position;
        info->fMDIApp = FALSE;
        info->hwndFrame = parent;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT position) override {
        if (view_ != nullptr && position != nullptr) {
            view_->Resize(position->right - position->left, position->bottom - position->top);
        }
        return S_OK;
    }

    // IOleInPlaceUIWindow and IOleInPlaceFrame: a frame without menus or
    // borders.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
        return INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }  // also the handler's
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDocHostUIHandler
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override {
        return S_OK;  // shown: that is, none
    }
    HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override {
        if (info == nullptr || info->cbSize < sizeof(DOCHOSTUIINFO)) {
            return E_INVALIDARG;
        }
        info->dwFlags = view_ != nullptr ? view_->hostFlags_ : 0;
        info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*,
                                     IOleInPlaceFrame*, IOleInPlaceUIWindow*) override {
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE HideUI() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UpdateUI() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, const GUID*, DWORD) override {
        return S_OK;  // handled: refresh, find, print, new window never reach the engine
    }
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD) override {
        if (key != nullptr) {
            *key = nullptr;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget*, IDropTarget** target) override {
        if (target != nullptr) {
            *target = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override {
        if (external == nullptr) {
            return E_POINTER;
        }
        *external = nullptr;
        if (view_ == nullptr || !view_->external_) {
            return E_NOTIMPL;
        }
        *external = view_->external_.copy().detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) override {
        if (translated != nullptr) {
            *translated = nullptr;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject*, IDataObject** filtered) override {
        if (filtered != nullptr) {
            *filtered = nullptr;
        }
        return S_FALSE;
    }

private:
    explicit CHtmlViewSite(CHtmlView& view) noexcept : view_(&view) {}
    ~CHtmlViewSite() = default;

    std::atomic<ULONG> references_{1};
    CHtmlView* view_;
};

// A sink for one dispatch event interface, handing each event to a function.
class CEventSink final : public IDispatch {
public:
    using Handler = std::function<void(DISPID, DISPPARAMS*, VARIANT*)>;

    static com_ptr<CEventSink> Create(REFIID events, Handler handler) {
        return com_ptr<CEventSink>(new (std::nothrow) CEventSink(events, std::move(handler)));
    }
    void Detach() noexcept { handler_ = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, events_)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) {
            *info = nullptr;
        }
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO*, UINT*) override {
        if (handler_ && params != nullptr) {
            try {
                handler_(id, params, result);
            } catch (...) {
                return E_FAIL;  // never across the engine
            }
        }
        return S_OK;
    }

private:
    CEventSink(REFIID events, Handler handler) noexcept
        : events_(events), handler_(std::move(handler)) {}
    ~CEventSink() = default;

    std::atomic<ULONG> references_{1};
    IID events_;
    Handler handler_;
};

namespace {

HRESULT Advise(IUnknown* source, REFIID events, IUnknown* sink, com_ptr<IConnectionPoint>& point,
               DWORD& cookie) {
    com_ptr<IConnectionPointContainer> container;
    HRESULT status = source->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (FAILED(status)) {
        return status;
    }
    status = container->FindConnectionPoint(events, point.put());
    if (FAILED(status)) {
        return status;
    }
    status = point->Advise(sink, &cookie);
    if (FAILED(status)) {
        point.reset();
        cookie = 0;
    }
    return status;
}

}  // namespace

void CHtmlView::Connection::Disconnect() noexcept {
    if (point) {
        point->Unadvise(cookie);
        point.reset();
    }
    cookie = 0;
}

CHtmlView::CHtmlView() = default;

CHtmlView::~CHtmlView() { Destroy(); }

IUnknown* CHtmlView::Site() const noexcept {
    return site_ ? static_cast<IOleClientSite*>(site_.get()) : nullptr;
}

void CHtmlView::OnClick(std::wstring id, std::function<void()> handler) {
    clickHandlers_.emplace_back(std::move(id), std::move(handler));
}

HRESULT CHtmlView::Create(HWND parent) {
    parent_ = parent;
    site_ = CHtmlViewSite::Create(*this);
    if (!site_) {
        return E_OUTOFMEMORY;
    }
    HRESULT status = ::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IOleObject, object_.put_void());
    if (FAILED(status)) {
        return status;
    }
    status = object_->SetClientSite(static_cast<IOleClientSite*>(site_.get()));
    if (FAILED(status)) {
        return status;
    }
    ::OleSetContainedObject(object_.get(), TRUE);
    RECT area{};
    ::GetClientRect(parent, &area);
    status = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr,
                             static_cast<IOleClientSite*>(site_.get()), 0, parent, &area);
    if (FAILED(status)) {
        return status;
    }
    status = object_->QueryInterface(IID_IWebBrowser2, browser_.put_void());
    if (FAILED(status)) {
        return status;
    }
    browserSink_ = CEventSink::Create(
        DIID_DWebBrowserEvents2,
        [this](DISPID id, DISPPARAMS* params, VARIANT*) { HandleBrowserEvent(id, params); });
    if (!browserSink_) {
        return E_OUTOFMEMORY;
    }
    return Advise(browser_.get(), DIID_DWebBrowserEvents2, browserSink_.get(),
                  browserEvents_.point, browserEvents_.cookie);
}

HRESULT CHtmlView::NavigateToResource(HMODULE module, UINT resource) {
    if (!browser_) {
        return E_UNEXPECTED;
    }
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return E_FAIL;
    }
    const std::wstring url =
        L"res://" + std::wstring(path, length) + L"/" + std::to_wstring(resource);
    unique_bstr address = make_bstr(url);
    if (!address) {
        return E_OUTOFMEMORY;
    }
    unique_variant none;
    return browser_->Navigate(address.get(), none.get(), none.get(), none.get(), none.get());
}

void CHtmlView::Resize(int width, int height) {
    if (!object_) {
        return;
    }
    com_ptr<IOleInPlaceObject> inPlace;
    if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, inPlace.put_void()))) {
        const RECT area{0, 0, width, height};
        inPlace->SetObjectRects(&area, &area);
    }
}

void CHtmlView::Destroy() {
    documentEvents_.Disconnect();
    browserEvents_.Disconnect();
    if (documentSink_) {
        documentSink_->Detach();
        documentSink_.reset();
    }
    if (browserSink_) {
        browserSink_->Detach();
        browserSink_.reset();
    }
    browser_.reset();
    if (object_) {
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
        object_.reset();
    }
    if (site_) {
        site_->Detach();
        site_.reset();
    }
    external_.reset();
}

void CHtmlView::HandleBrowserEvent(DISPID id, DISPPARAMS* params) {
    if (id != DISPID_DOCUMENTCOMPLETE || params->cArgs < 2) {
        return;
    }
    // Arguments arrive last first: [1] the browser object, [0] the address.
    const VARIANT& source = params->rgvarg[1];
    IDispatch* const browser = source.vt == VT_DISPATCH ? source.pdispVal : nullptr;
    const VARIANT* address = &params->rgvarg[0];
    if (address->vt == (VT_BYREF | VT_VARIANT) && address->pvarVal != nullptr) {
        address = address->pvarVal;
    }
    const std::wstring_view url =
        address->vt == VT_BSTR ? bstr_view(address->bstrVal) : std::wstring_view();

    ConnectDocumentEvents();
    if (documentComplete_) {
        documentComplete_(browser, url);
    }
}

void CHtmlView::ConnectDocumentEvents() {
    documentEvents_.Disconnect();
    if (!browser_ || clickHandlers_.empty()) {
        return;
    }
    com_ptr<IDispatch> document;
    if (FAILED(browser_->get_Document(document.put())) || !document) {
        return;
    }
    if (!documentSink_) {
        documentSink_ = CEventSink::Create(
            __uuidof(HTMLDocumentEvents2), [this](DISPID id, DISPPARAMS* params, VARIANT* result) {
                HandleDocumentEvent(id, params, result);
            });
        if (!documentSink_) {
            return;
        }
    }
    Advise(document.get(), __uuidof(HTMLDocumentEvents2), documentSink_.get(), documentEvents_.point,
           documentEvents_.cookie);
}

void CHtmlView::HandleDocumentEvent(DISPID id, DISPPARAMS* params, VARIANT* result) {
    if (id != DISPID_HTMLDOCUMENTEVENTS2_ONCLICK || params->cArgs < 1 ||
        params->rgvarg[0].vt != VT_DISPATCH || params->rgvarg[0].pdispVal == nullptr) {
        return;
    }
    com_ptr<IHTMLEventObj> event;
    if (FAILED(params->rgvarg[0].pdispVal->QueryInterface(IID_IHTMLEventObj, event.put_void()))) {
        return;
    }
    // Clicks are taken at the document, so that elements the page creates
    // later (the "登录" link comes with the verdict) are covered too.
    com_ptr<IHTMLElement> element;
    event->get_srcElement(element.put());
    while (element) {
        unique_bstr elementId;
        element->get_id(&elementId);
        for (const auto& [handlerId, handler] : clickHandlers_) {
            if (bstr_view(elementId.get()) == handlerId) {
                // Handled here; the page's own default action (following a
                // link inside this window) would lose the page.
                unique_variant no;
                no.get()->vt = VT_BOOL;
                no.get()->boolVal = VARIANT_FALSE;
                event->put_returnValue(*no.get());
                if (result != nullptr) {
                    ::VariantClear(result);
                    result->vt = VT_BOOL;
                    result->boolVal = VARIANT_FALSE;
                }
                handler();
                return;
            }
        }
        com_ptr<IHTMLElement> parent;
        element->get_parentElement(parent.put());
        element = std::move(parent);
    }
}

}  // namespace wayfarer
