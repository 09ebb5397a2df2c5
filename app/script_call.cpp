#include "app/script_call.h"

#include <exdisp.h>
#include <mshtml.h>

#include "common/handles.h"
#include "common/text.h"

namespace wayfarer {

com_ptr<IDispatch> GetScriptObject(IWebBrowser2* browser) {
    com_ptr<IDispatch> script;
    if (browser == nullptr) {
        return script;
    }
    com_ptr<IDispatch> document;
    if (FAILED(browser->get_Document(document.put())) || !document) {
        return script;
    }
    const com_ptr<IHTMLDocument> html = document.query<IHTMLDocument>();
    if (!html || FAILED(html->get_Script(script.put()))) {
        script.reset();
    }
    return script;
}

HRESULT InvokeScriptFunction(IDispatch* script, std::wstring_view function,
                             const std::vector<ScriptArg>& args) {
    if (script == nullptr) {
        return E_POINTER;
    }
    unique_bstr name = make_bstr(function);
    if (!name) {
        return E_OUTOFMEMORY;
    }
    LPOLESTR names[] = {name.get()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT status = script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (FAILED(status)) {
        return status;
    }

    // Automation wants the arguments last first.
    std::vector<unique_variant> values(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        const ScriptArg& arg = args[args.size() - 1 - i];
        VARIANT* value = values[i].put();
        if (arg.isText) {
            unique_bstr text = make_bstr(Utf8ToWide(arg.text));
            if (!text) {
                return E_OUTOFMEMORY;
            }
            value->vt = VT_BSTR;
            value->bstrVal = text.release();
        } else {
            value->vt = VT_I4;
            value->lVal = arg.number;
        }
    }
    std::vector<VARIANT> raw;
    raw.reserve(values.size());
    for (unique_variant& value : values) {
        raw.push_back(*value.get());  // shallow: `values` keeps ownership
    }
    DISPPARAMS params{};
    params.rgvarg = raw.empty() ? nullptr : raw.data();
    params.cArgs = static_cast<UINT>(raw.size());
    status = script->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                            nullptr, nullptr);
    return status;
}

HRESULT CallScript(IWebBrowser2* browser, std::wstring_view function,
                   const std::vector<ScriptArg>& args) {
    const com_ptr<IDispatch> script = GetScriptObject(browser);
    if (!script) {
        return E_FAIL;
    }
    return InvokeScriptFunction(script.get(), function, args);
}

}  // namespace wayfarer
