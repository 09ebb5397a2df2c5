// Calls into the page's script: a named function of the document's script
// object, invoked as a method with Automation arguments. Windows only.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string_view>
#include <vector>

#include "app/controller.h"
#include "common/handles.h"

struct IWebBrowser2;

namespace wayfarer {

// The document's script object; empty while no HTML document is loaded.
com_ptr<IDispatch> GetScriptObject(IWebBrowser2* browser);

// Looks `function` up in `script` and invokes it with `args` in call order
// (numbers as VT_I4, texts converted from UTF-8 to VT_BSTR). No result is
// asked for. Returns the failing status of the lookup or the call.
HRESULT InvokeScriptFunction(IDispatch* script, std::wstring_view function,
                             const std::vector<ScriptArg>& args);

// Both of the above: what a report to the page goes through.
HRESULT CallScript(IWebBrowser2* browser, std::wstring_view function,
                   const std::vector<ScriptArg>& args);

}  // namespace wayfarer
