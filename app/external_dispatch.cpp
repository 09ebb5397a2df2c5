#include "app/external_dispatch.h"

#include <iterator>
#include <new>
#include <string_view>

namespace wayfarer {

namespace {

struct Method {
    const wchar_t* name;
    UINT arguments;
};

// The order gives the dispatch ids and must not change.
constexpr Method kMethods[] = {
    {L"install", 1}, {L"installcom", 1},    {L"installmulti", 2}, {L"fix", 1},
    {L"check", 1},   {L"installandfix", 0}, {L"stop", 1},
};
constexpr DISPID kFirstId = 1;
constexpr DISPID kLastId = kFirstId + static_cast<DISPID>(std::size(kMethods)) - 1;

bool SameName(const wchar_t* a, const wchar_t* b) {
    // Automation names are looked up without regard to case.
    return ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

com_ptr<CExternalDispatch> CExternalDispatch::Create(ExternalMethods& target) {
    return com_ptr<CExternalDispatch>(new (std::nothrow) CExternalDispatch(target));
}

HRESULT CExternalDispatch::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CExternalDispatch::AddRef() { return ++references_; }

ULONG CExternalDispatch::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT CExternalDispatch::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT CExternalDispatch::GetTypeInfo(UINT /*index*/, LCID /*locale*/, ITypeInfo** info) {
    if (info != nullptr) {
        *info = nullptr;
    }
    return DISP_E_BADINDEX;
}

HRESULT CExternalDispatch::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                         LCID /*locale*/, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    if (names == nullptr || ids == nullptr || count == 0) {
        return E_INVALIDARG;
    }
    HRESULT status = S_OK;
    ids[0] = DISPID_UNKNOWN;
    for (DISPID id = kFirstId; id <= kLastId; ++id) {
        if (names[0] != nullptr && SameName(names[0], kMethods[id - kFirstId].name)) {
            ids[0] = id;
        }
    }
    if (ids[0] == DISPID_UNKNOWN) {
        status = DISP_E_UNKNOWNNAME;
    }
    // The methods have no named parameters.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        status = DISP_E_UNKNOWNNAME;
    }
    return status;
}

HRESULT CExternalDispatch::Invoke(DISPID id, REFIID riid, LCID /*locale*/, WORD flags,
                                  DISPPARAMS* params, VARIANT* result, EXCEPINFO* /*exception*/,
                                  UINT* argumentError) {
    if (!IsEqualIID(riid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    if (id < kFirstId || id > kLastId || (flags & DISPATCH_METHOD) == 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (params == nullptr) {
        return E_INVALIDARG;
    }
    if (params->cNamedArgs != 0) {
        return DISP_E_NONAMEDARGS;
    }
    const Method& method = kMethods[id - kFirstId];
    if (params->cArgs != method.arguments) {
        return DISP_E_BADPARAMCOUNT;
    }

    // Arguments arrive last first; a script's number may be any numeric type.
    int32_t values[2] = {0, 0};
    for (UINT i = 0; i < method.arguments; ++i) {
        const UINT slot = method.arguments - 1 - i;
        unique_variant converted;
        const HRESULT status =
            ::VariantChangeType(converted.get(), &params->rgvarg[slot], 0, VT_I4);
        if (FAILED(status)) {
            if (argumentError != nullptr) {
                *argumentError = slot;
            }
            return DISP_E_TYPEMISMATCH;
        }
        values[i] = converted.get()->lVal;
    }
    if (result != nullptr) {
        ::VariantInit(result);
    }

    ExternalMethods* const target = target_;
    if (target == nullptr) {
        return E_UNEXPECTED;
    }
    try {
        switch (id - kFirstId) {
        case 0: target->install(values[0]); break;
        case 1: target->installcom(values[0]); break;
        case 2: target->installmulti(values[0], values[1]); break;
        case 3: target->fix(values[0]); break;
        case 4: target->check(values[0]); break;
        case 5: target->installandfix(); break;
        default: target->stop(values[0]); break;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
    return S_OK;
}

}  // namespace wayfarer
