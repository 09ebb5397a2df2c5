#include "common/handles.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace wayfarer {
namespace {

// A named object exists exactly as long as some handle to it is open, which
// makes closing observable.
bool EventExists(const wchar_t* name) {
    unique_handle probe(OpenEventW(SYNCHRONIZE, FALSE, name));
    return static_cast<bool>(probe);
}

TEST(UniqueHandle, ClosesOnceAndMovesOwnership) {
    const wchar_t* const name = L"Local\\wayfarer-handles-test";
    {
        unique_handle event(CreateEventW(nullptr, TRUE, FALSE, name));
        ASSERT_TRUE(event);
        unique_handle moved(std::move(event));
        EXPECT_FALSE(event);  // NOLINT(bugprone-use-after-move): moved-from state is the point
        EXPECT_TRUE(moved);
        EXPECT_TRUE(EventExists(name));
    }
    EXPECT_FALSE(EventExists(name)) << "the owner closed it when it went out of scope";

    unique_handle event(CreateEventW(nullptr, TRUE, FALSE, name));
    HANDLE raw = event.release();
    EXPECT_FALSE(event);
    EXPECT_TRUE(EventExists(name)) << "release hands the handle over without closing it";
    CloseHandle(raw);
    EXPECT_FALSE(EventExists(name));
}

TEST(UniqueHandle, PutClosesWhatWasHeld) {
    const wchar_t* const first = L"Local\\wayfarer-handles-first";
    unique_handle event(CreateEventW(nullptr, TRUE, FALSE, first));
    ASSERT_TRUE(event);
    HANDLE* slot = &event;
    EXPECT_FALSE(EventExists(first));
    *slot = CreateEventW(nullptr, TRUE, FALSE, L"Local\\wayfarer-handles-second");
    EXPECT_TRUE(event);
}

TEST(UniqueHfile, InvalidHandleValueMeansNone) {
    unique_hfile missing(CreateFileW(L"C:\\wayfarer\\no\\such\\file", GENERIC_READ, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(missing.get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(missing);

    wchar_t folder[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
    const std::wstring path = std::wstring(folder) + L"wayfarer-handles-test.tmp";
    {
        unique_hfile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        ASSERT_TRUE(file);
        EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES)
        << "closing the handle deleted the file";
}

TEST(UniqueHkey, OutParameterAndClose) {
    unique_hkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\WayfarerTest\\Handles", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_TRUE(key);
    const DWORD value = 42;
    EXPECT_EQ(RegSetValueExW(key.get(), L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof(value)),
              ERROR_SUCCESS);
    key.reset();
    EXPECT_FALSE(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\WayfarerTest");
}

TEST(UniqueHinternet, OpensAndCloses) {
    unique_hinternet session(InternetOpenW(L"wayfarer-test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                           nullptr, 0));
    ASSERT_TRUE(session);
    HINTERNET raw = session.get();
    session.reset();
    DWORD timeout = 0;
    DWORD size = sizeof(timeout);
    EXPECT_FALSE(InternetQueryOptionW(raw, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, &size))
        << "the handle is closed";
}

TEST(UniqueHcertstore, OwnsAMemoryStore) {
    unique_hcertstore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    ASSERT_TRUE(store);
    unique_cert_context none(CertEnumCertificatesInStore(store.get(), nullptr));
    EXPECT_FALSE(none);
}

// Counts references so that the owner's AddRef/Release balance shows.
class CountedObject final : public IUnknown {
public:
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST(ComPtr, BalancesReferences) {
    CountedObject object;
    {
        com_ptr<IUnknown> owner(&object);  // takes the initial reference
        {
            com_ptr<IUnknown> second = owner.copy();
            EXPECT_EQ(object.refs, 2u);
            com_ptr<IUnknown> third(std::move(second));
            EXPECT_EQ(object.refs, 2u) << "a move adds no reference";
            EXPECT_FALSE(second);  // NOLINT(bugprone-use-after-move): moved-from state is the point
        }
        EXPECT_EQ(object.refs, 1u);
        {
            com_ptr<IUnknown> same = owner.query<IUnknown>();
            EXPECT_TRUE(same);
            EXPECT_EQ(object.refs, 2u);
        }
        com_ptr<IDispatch> missing = owner.query<IDispatch>();
        EXPECT_FALSE(missing);
        EXPECT_EQ(object.refs, 1u);
    }
    EXPECT_EQ(object.refs, 0u);
}

TEST(UniqueBstr, KeepsLengthAndEmbeddedZeros) {
    unique_bstr text = make_bstr(std::wstring_view(L"a\0b", 3));
    ASSERT_TRUE(text);
    EXPECT_EQ(bstr_view(text.get()), std::wstring_view(L"a\0b", 3));
    unique_bstr moved(std::move(text));
    EXPECT_FALSE(text);  // NOLINT(bugprone-use-after-move): moved-from state is the point
    EXPECT_EQ(bstr_view(moved.get()).size(), 3u);
}

TEST(UniqueVariant, MoveHandsOverAndLeavesEmpty) {
    unique_variant value;
    EXPECT_EQ(value.type(), VT_EMPTY);
    VARIANT* slot = value.put();
    slot->vt = VT_BSTR;
    slot->bstrVal = SysAllocString(L"state");
    unique_variant moved(std::move(value));
    EXPECT_EQ(value.type(), VT_EMPTY);  // NOLINT(bugprone-use-after-move)
    ASSERT_EQ(moved.type(), VT_BSTR);
    EXPECT_STREQ(moved.get()->bstrVal, L"state");
    moved.reset();
    EXPECT_EQ(moved.type(), VT_EMPTY);
}

}  // namespace
}  // namespace wayfarer
