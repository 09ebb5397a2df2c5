// window.external driven the way the page's script drives it: names looked
// up with GetIDsOfNames, calls made with Invoke and Automation arguments.
#include "app/external_dispatch.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace wayfarer {
namespace {

class RecordingTarget : public ExternalMethods {
public:
    void install(int32_t position) override { Record("install", {position}); }
    void installcom(int32_t row) override { Record("installcom", {row}); }
    void installmulti(int32_t first, int32_t last) override {
        Record("installmulti", {first, last});
    }
    void fix(int32_t item) override { Record("fix", {item}); }
    void check(int32_t mode) override {
        if (throwOnCheck) {
            throw std::runtime_error("check failed");
        }
        Record("check", {mode});
    }
    void installandfix() override { Record("installandfix", {}); }
    void stop(int32_t ignored) override { Record("stop", {ignored}); }

    std::vector<std::string> calls;
    bool throwOnCheck = false;

private:
    void Record(const char* name, std::initializer_list<int32_t> args) {
        std::string call = std::string(name) + "(";
        bool first = true;
        for (int32_t arg : args) {
            call += (first ? "" : ",") + std::to_string(arg);
            first = false;
        }
        calls.push_back(call + ")");
    }
};

class ExternalDispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        object = CExternalDispatch::Create(target);
        ASSERT_TRUE(object);
        external = object.query<IDispatch>();
        ASSERT_TRUE(external);
    }

    DISPID IdOf(const wchar_t* name) {
        std::wstring copy(name);
        LPOLESTR names[] = {copy.data()};
        DISPID id = 0;
        lastStatus = external->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
        return id;
    }

    // A call as a script makes it: arguments in call order here, last first
    // on the wire.
    HRESULT Call(const wchar_t* name, std::vector<unique_variant>& args, WORD flags = DISPATCH_METHOD) {
        const DISPID id = IdOf(name);
        if (FAILED(lastStatus)) {
            return lastStatus;
        }
        std::vector<VARIANT> wire;
        for (auto it = args.rbegin(); it != args.rend(); ++it) {
            wire.push_back(*it->get());
        }
        DISPPARAMS params{};
        params.rgvarg = wire.empty() ? nullptr : wire.data();
        params.cArgs = static_cast<UINT>(wire.size());
        unique_variant result;
        argumentError = 0xFFFFFFFF;
        return external->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.put(),
                                 nullptr, &argumentError);
    }

    RecordingTarget target;
    com_ptr<CExternalDispatch> object;
    com_ptr<IDispatch> external;
    HRESULT lastStatus = S_OK;
    UINT argumentError = 0;
};

unique_variant I4(LONG value) {
    unique_variant v;
    v.get()->vt = VT_I4;
    v.get()->lVal = value;
    return v;
}
unique_variant R8(double value) {
    unique_variant v;
    v.get()->vt = VT_R8;
    v.get()->dblVal = value;
    return v;
}
unique_variant Text(const wchar_t* value) {
    unique_variant v;
    v.get()->vt = VT_BSTR;
    v.get()->bstrVal = make_bstr(value).release();
    return v;
}
std::vector<unique_variant> Args() { return {}; }
template <typename... T>
std::vector<unique_variant> Args(unique_variant first, T... rest) {
    std::vector<unique_variant> args;
    args.push_back(std::move(first));
    (args.push_back(std::move(rest)), ...);
    return args;
}

TEST_F(ExternalDispatchTest, NamesHaveTheirIdsInTheMapsOrder) {
    const wchar_t* const names[] = {L"install", L"installcom", L"installmulti", L"fix",
                                    L"check",   L"installandfix", L"stop"};
    DISPID expected = 1;
    for (const wchar_t* name : names) {
        EXPECT_EQ(IdOf(name), expected) << testing::PrintToString(std::wstring(name));
        EXPECT_EQ(lastStatus, S_OK);
        ++expected;
    }
    EXPECT_EQ(IdOf(L"InstallCom"), 2) << "Automation names do not depend on case";
    EXPECT_EQ(IdOf(L"setKey"), DISPID_UNKNOWN);
    EXPECT_EQ(lastStatus, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(IdOf(L"inst"), DISPID_UNKNOWN);
}

TEST_F(ExternalDispatchTest, EachMethodReachesTheTargetWithItsIntegers) {
    struct Case {
        const wchar_t* name;
        std::vector<unique_variant> args;
        const char* expected;
    };
    std::vector<Case> cases;
    cases.push_back({L"install", Args(I4(0)), "install(0)"});
    cases.push_back({L"installcom", Args(I4(3)), "installcom(3)"});
    cases.push_back({L"installmulti", Args(I4(2), I4(5)), "installmulti(2,5)"});
    cases.push_back({L"fix", Args(I4(16)), "fix(16)"});
    cases.push_back({L"check", Args(I4(1)), "check(1)"});
    cases.push_back({L"installandfix", Args(), "installandfix()"});
    cases.push_back({L"stop", Args(I4(9)), "stop(9)"});
    // What a script engine may hand over for a number.
    cases.push_back({L"fix", Args(R8(12.0)), "fix(12)"});
    cases.push_back({L"installcom", Args(Text(L"4")), "installcom(4)"});
    cases.push_back({L"install", Args(I4(-1)), "install(-1)"});
    cases.push_back({L"installmulti", Args(R8(1.0), I4(2147483647)), "installmulti(1,2147483647)"});
    for (Case& c : cases) {
        target.calls.clear();
        EXPECT_EQ(Call(c.name, c.args), S_OK) << c.expected;
        EXPECT_EQ(target.calls, std::vector<std::string>{c.expected});
    }
}

TEST_F(ExternalDispatchTest, MalformedCallsAreRefusedWithoutReachingTheTarget) {
    struct Case {
        const wchar_t* name;
        std::vector<unique_variant> args;
        WORD flags;
        HRESULT expected;
    };
    std::vector<Case> cases;
    cases.push_back({L"fix", Args(), DISPATCH_METHOD, DISP_E_BADPARAMCOUNT});
    cases.push_back({L"installmulti", Args(I4(1)), DISPATCH_METHOD, DISP_E_BADPARAMCOUNT});
    cases.push_back({L"installandfix", Args(I4(1)), DISPATCH_METHOD, DISP_E_BADPARAMCOUNT});
    cases.push_back({L"fix", Args(Text(L"abc")), DISPATCH_METHOD, DISP_E_TYPEMISMATCH});
    cases.push_back({L"install", Args(R8(5e9)), DISPATCH_METHOD, DISP_E_TYPEMISMATCH});
    cases.push_back({L"check", Args(I4(0)), DISPATCH_PROPERTYGET, DISP_E_MEMBERNOTFOUND});
    for (Case& c : cases) {
        EXPECT_EQ(Call(c.name, c.args, c.flags), c.expected)
            << testing::PrintToString(std::wstring(c.name));
    }
    EXPECT_TRUE(target.calls.empty());
}

TEST_F(ExternalDispatchTest, TypeMismatchNamesTheArgumentOnTheWire) {
    auto args = Args(I4(1), Text(L"x"));
    EXPECT_EQ(Call(L"installmulti", args), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argumentError, 0u) << "the last argument sits first in the array";
}

TEST_F(ExternalDispatchTest, NamedArgumentsAndUnknownIdsAreRefused) {
    unique_variant arg = I4(1);
    DISPID named = 1;
    DISPPARAMS params{arg.get(), &named, 1, 1};
    EXPECT_EQ(external->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_NONAMEDARGS);
    DISPPARAMS plain{arg.get(), nullptr, 1, 0};
    EXPECT_EQ(external->Invoke(8, IID_NULL, 0, DISPATCH_METHOD, &plain, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(external->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &plain, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(target.calls.empty());
}

TEST_F(ExternalDispatchTest, FailureOfTheTargetStaysOnThisSide) {
    target.throwOnCheck = true;
    auto args = Args(I4(0));
    EXPECT_EQ(Call(L"check", args), E_FAIL);
}

TEST_F(ExternalDispatchTest, DisconnectedObjectRefusesEveryCall) {
    object->Disconnect();
    auto args = Args(I4(0));
    EXPECT_EQ(Call(L"fix", args), E_UNEXPECTED);
    EXPECT_TRUE(target.calls.empty());
}

}  // namespace
}  // namespace wayfarer
