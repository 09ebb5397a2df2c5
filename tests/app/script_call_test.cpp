// Calls into the page's script, against a script object that records what
// the engine would receive.
#include "app/script_call.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace wayfarer {
namespace {

struct Received {
    VARTYPE type;
    LONG number;
    std::wstring text;
};

class FakeScript final : public IDispatch {
public:
    // Functions the page has, with their ids.
    std::vector<std::wstring> functions = {L"setState", L"clearState"};
    HRESULT invokeStatus = S_OK;

    std::wstring lookedUp;
    LCID lookupLocale = 0;
    int lookups = 0;
    DISPID invoked = DISPID_UNKNOWN;
    LCID invokeLocale = 0;
    WORD invokeFlags = 0;
    UINT namedArgs = 99;
    bool askedForResult = true;
    bool gaveExceptionRecord = true;
    int invocations = 0;
    std::vector<Received> args;  // in call order

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        ++lookups;
        EXPECT_EQ(count, 1u);
        lookedUp = names[0];
        lookupLocale = locale;
        DISPID id = 100;
        for (const std::wstring& function : functions) {
            if (function == names[0]) {
                ids[0] = id;
                return S_OK;
            }
            ++id;
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT*) override {
        ++invocations;
        invoked = id;
        invokeLocale = locale;
        invokeFlags = flags;
        namedArgs = params->cNamedArgs;
        askedForResult = result != nullptr;
        gaveExceptionRecord = exception != nullptr;
        args.clear();
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& v = params->rgvarg[i];
            Received r{v.vt, 0, {}};
            if (v.vt == VT_I4) {
                r.number = v.lVal;
            } else if (v.vt == VT_BSTR) {
                r.text = std::wstring(bstr_view(v.bstrVal));
            }
            args.push_back(r);
        }
        return invokeStatus;
    }

    std::atomic<ULONG> references{1};
};

TEST(InvokeScriptFunction, CallsTheNamedFunctionAsAMethodWithArgumentsLastFirst) {
    FakeScript script;
    EXPECT_EQ(InvokeScriptFunction(&script, L"setState", {0, 2, 1002}), S_OK);

    EXPECT_EQ(script.lookedUp, L"setState");
    EXPECT_EQ(script.lookupLocale, static_cast<LCID>(0x800)) << "LOCALE_SYSTEM_DEFAULT";
    EXPECT_EQ(script.invoked, 100);
    EXPECT_EQ(script.invokeLocale, static_cast<LCID>(0x400)) << "LOCALE_USER_DEFAULT";
    EXPECT_EQ(script.invokeFlags, DISPATCH_METHOD);
    EXPECT_EQ(script.namedArgs, 0u);
    EXPECT_FALSE(script.askedForResult);
    EXPECT_FALSE(script.gaveExceptionRecord);
    ASSERT_EQ(script.args.size(), 3u);
    const LONG expected[] = {0, 2, 1002};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(script.args[i].type, VT_I4);
        EXPECT_EQ(script.args[i].number, expected[i]) << "argument " << i;
    }
}

TEST(InvokeScriptFunction, NumbersAndTextsTravelAsI4AndBstr) {
    FakeScript script;
    const struct {
        std::vector<ScriptArg> args;
        std::vector<Received> expected;
    } cases[] = {
        // A state word with the top bit set goes as its two's complement.
        {{2, 4, static_cast<int32_t>(0x80000005u)}, {{VT_I4, 2, {}}, {VT_I4, 4, {}}, {VT_I4, -2147483643, {}}}},
        {{2, 1, static_cast<int32_t>(0x40000000u)}, {{VT_I4, 2, {}}, {VT_I4, 1, {}}, {VT_I4, 0x40000000, {}}}},
        // UTF-8 texts arrive as UTF-16.
        {{1, 6, std::string("\xE5\xB7\xA5\xE8\xA1\x8C DNS")},
         {{VT_I4, 1, {}}, {VT_I4, 6, {}}, {VT_BSTR, 0, L"\u5de5\u884c DNS"}}},
        {{1, 8, std::string()}, {{VT_I4, 1, {}}, {VT_I4, 8, {}}, {VT_BSTR, 0, L""}}},
        // The five-argument form: state word, tips, name.
        {{2, 1, 5, "tips", "name"},
         {{VT_I4, 2, {}}, {VT_I4, 1, {}}, {VT_I4, 5, {}}, {VT_BSTR, 0, L"tips"}, {VT_BSTR, 0, L"name"}}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(InvokeScriptFunction(&script, L"setState", c.args), S_OK);
        ASSERT_EQ(script.args.size(), c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(script.args[i].type, c.expected[i].type) << "argument " << i;
            EXPECT_EQ(script.args[i].number, c.expected[i].number) << "argument " << i;
            EXPECT_EQ(script.args[i].text, c.expected[i].text) << "argument " << i;
        }
    }
}

TEST(InvokeScriptFunction, FailuresAreReturnedAndNothingElseHappens) {
    FakeScript script;
    EXPECT_EQ(InvokeScriptFunction(&script, L"setKey", {1}), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(script.invocations, 0) << "a missing function is not called";

    script.invokeStatus = DISP_E_EXCEPTION;
    EXPECT_EQ(InvokeScriptFunction(&script, L"clearState", {800, 2}), DISP_E_EXCEPTION);
    EXPECT_EQ(script.invoked, 101);

    EXPECT_EQ(script.references.load(), 1u) << "every reference taken was given back";
    EXPECT_TRUE(FAILED(InvokeScriptFunction(nullptr, L"setState", {0})));
}

TEST(CallScript, WithoutAPageTheReportIsDropped) {
    EXPECT_FALSE(GetScriptObject(nullptr));
    EXPECT_TRUE(FAILED(CallScript(nullptr, L"setState", {0, 0, 1})));
}

}  // namespace
}  // namespace wayfarer
