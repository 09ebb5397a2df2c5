// Owners for every kind of Windows handle the program holds: one generic,
// move-only owner and a one-line type per kind, after the manner of WIL.
// Nothing here throws. Windows only.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>
#include <wincrypt.h>
#include <wininet.h>
#include <setupapi.h>

#include <memory>
#include <string_view>
#include <utility>

namespace wayfarer {

// Closing policy for handles whose "none" value is null (or 0, for the
// CryptoAPI handles that are numbers).
template <typename T, auto Close>
struct null_handle_traits {
    using type = T;
    static constexpr type invalid() noexcept { return type{}; }
    static bool is_valid(type value) noexcept { return value != type{}; }
    static void close(type value) noexcept { Close(value); }
};

// The file handle family says "none" with INVALID_HANDLE_VALUE instead.
struct file_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool is_valid(type value) noexcept {
        return value != INVALID_HANDLE_VALUE && value != nullptr;
    }
    static void close(type value) noexcept { ::CloseHandle(value); }
};

template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::type;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != std::addressof(other)) {
            reset(other.release());
        }
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    ~unique_any() { reset(); }

    pointer get() const noexcept { return value_; }
    bool is_valid() const noexcept { return Traits::is_valid(value_); }
    explicit operator bool() const noexcept { return is_valid(); }

    void reset(pointer value = Traits::invalid()) noexcept {
        const pointer old = std::exchange(value_, value);
        if (Traits::is_valid(old)) {
            Traits::close(old);
        }
    }
    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

    // For out-parameters: closes what is held and hands out the slot.
    pointer* put() noexcept {
        reset();
        return &value_;
    }
    // Like put(); the object's own address is std::addressof(owner).
    pointer* operator&() noexcept { return put(); }

private:
    pointer value_ = Traits::invalid();
};

namespace detail {
inline void CloseCertStore(HCERTSTORE store) noexcept { ::CertCloseStore(store, 0); }
inline void FreeCertContext(PCCERT_CONTEXT context) noexcept {
    ::CertFreeCertificateContext(context);
}
inline void CloseFind(HANDLE find) noexcept { ::FindClose(find); }
inline void ReleaseCryptProvider(HCRYPTPROV provider) noexcept {
    ::CryptReleaseContext(provider, 0);
}
inline void DestroyCryptKey(HCRYPTKEY key) noexcept { ::CryptDestroyKey(key); }
inline void DestroyCryptHash(HCRYPTHASH hash) noexcept { ::CryptDestroyHash(hash); }
}  // namespace detail

using unique_hkey = unique_any<null_handle_traits<HKEY, &::RegCloseKey>>;
using unique_handle = unique_any<null_handle_traits<HANDLE, &::CloseHandle>>;
using unique_hfile = unique_any<file_handle_traits>;
using unique_hinternet = unique_any<null_handle_traits<HINTERNET, &::InternetCloseHandle>>;
using unique_hcertstore = unique_any<null_handle_traits<HCERTSTORE, &detail::CloseCertStore>>;
using unique_cert_context =
    unique_any<null_handle_traits<PCCERT_CONTEXT, &detail::FreeCertContext>>;
using unique_hmodule = unique_any<null_handle_traits<HMODULE, &::FreeLibrary>>;
using unique_hcryptprov =
    unique_any<null_handle_traits<HCRYPTPROV, &detail::ReleaseCryptProvider>>;
using unique_hcryptkey = unique_any<null_handle_traits<HCRYPTKEY, &detail::DestroyCryptKey>>;
using unique_hcrypthash = unique_any<null_handle_traits<HCRYPTHASH, &detail::DestroyCryptHash>>;

struct find_handle_traits : file_handle_traits {
    static void close(type value) noexcept { detail::CloseFind(value); }
};
using unique_hfind = unique_any<find_handle_traits>;

// A SetupAPI device information set; "none" is INVALID_HANDLE_VALUE.
struct devinfo_traits : file_handle_traits {
    static void close(type value) noexcept { ::SetupDiDestroyDeviceInfoList(value); }
};
using unique_hdevinfo = unique_any<devinfo_traits>;

// Owns one reference to a COM object.
template <typename T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    // Takes over a reference the caller already owns.
    explicit com_ptr(T* owned) noexcept : ptr_(owned) {}
    com_ptr(com_ptr&& other) noexcept : ptr_(other.detach()) {}
    com_ptr& operator=(com_ptr&& other) noexcept {
        if (this != std::addressof(other)) {
            attach(other.detach());
        }
        return *this;
    }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    ~com_ptr() { reset(); }

    // A second owner of the same object, by an added reference.
    com_ptr copy() const noexcept {
        if (ptr_ != nullptr) {
            ptr_->AddRef();
        }
        return com_ptr(ptr_);
    }

    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    void reset() noexcept { attach(nullptr); }
    void attach(T* owned) noexcept {
        T* old = std::exchange(ptr_, owned);
        if (old != nullptr) {
            old->Release();
        }
    }
    T* detach() noexcept { return std::exchange(ptr_, nullptr); }

    T** put() noexcept {
        reset();
        return &ptr_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    T** operator&() noexcept { return put(); }

    // QueryInterface for another interface; empty when the object lacks it.
    template <typename U>
    com_ptr<U> query() const noexcept {
        com_ptr<U> result;
        if (ptr_ != nullptr) {
            ptr_->QueryInterface(__uuidof(U), result.put_void());
        }
        return result;
    }

private:
    T* ptr_ = nullptr;
};

using unique_bstr = unique_any<null_handle_traits<BSTR, &::SysFreeString>>;

// A new BSTR holding `text` (embedded zeros kept); empty on failure.
inline unique_bstr make_bstr(std::wstring_view text) noexcept {
    if (text.size() > 0x7FFFFFFE) {
        return unique_bstr();
    }
    return unique_bstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

// The text, as many units as the BSTR says it holds.
inline std::wstring_view bstr_view(BSTR value) noexcept {
    return value == nullptr ? std::wstring_view() : std::wstring_view(value, ::SysStringLen(value));
}

// Owns a VARIANT: initialised empty, cleared (freeing what it holds) on
// destruction and before reuse.
class unique_variant {
public:
    unique_variant() noexcept { ::VariantInit(&value_); }
    unique_variant(unique_variant&& other) noexcept {
        value_ = other.value_;  // a bitwise move hands over the ownership
        ::VariantInit(&other.value_);
    }
    unique_variant& operator=(unique_variant&& other) noexcept {
        if (this != std::addressof(other)) {
            reset();
            value_ = other.value_;
            ::VariantInit(&other.value_);
        }
        return *this;
    }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    ~unique_variant() { reset(); }

    VARIANT* get() noexcept { return &value_; }
    const VARIANT* get() const noexcept { return &value_; }
    VARTYPE type() const noexcept { return value_.vt; }
    void reset() noexcept { ::VariantClear(&value_); }
    VARIANT* put() noexcept {
        reset();
        return &value_;
    }
    VARIANT* operator&() noexcept { return put(); }

private:
    VARIANT value_;
};

}  // namespace wayfarer

namespace wayfarer {

namespace detail {
inline void CloseUrlCacheFind(HANDLE find) noexcept { ::FindCloseUrlCache(find); }
}  // namespace detail

// An enumeration of the WinINet URL cache (FindFirstUrlCacheEntry*).
using unique_urlcache_find =
    unique_any<null_handle_traits<HANDLE, &detail::CloseUrlCacheFind>>;

}  // namespace wayfarer
