// The page's window.external: an automation object whose seven methods take
// 32-bit integers and forward to the dialog. Windows only.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <cstdint>

#include "common/handles.h"

namespace wayfarer {

// What the page may ask for; the dialog forwards each to its controller.
class ExternalMethods {
public:
    virtual ~ExternalMethods() = default;
    virtual void install(int32_t position) = 0;
    virtual void installcom(int32_t row) = 0;
    virtual void installmulti(int32_t first, int32_t last) = 0;
    virtual void fix(int32_t item) = 0;
    virtual void check(int32_t mode) = 0;
    virtual void installandfix() = 0;
    virtual void stop(int32_t ignored) = 0;
};

// Dispatch ids follow the methods' order, from 1.
class CExternalDispatch final : public IDispatch {
public:
    static com_ptr<CExternalDispatch> Create(ExternalMethods& target);

    // The browser may hold the object after the dialog has gone; from here
    // on every call is refused.
    void Disconnect() noexcept { target_ = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

private:
    explicit CExternalDispatch(ExternalMethods& target) noexcept : target_(&target) {}
    ~CExternalDispatch() = default;

    std::atomic<ULONG> references_{1};
    ExternalMethods* target_;
};

}  // namespace wayfarer
