// The page's own words for what the controller reports: the texts the page
// shows for each setState/clearState, so that the console checker can print
// them. Portable; all text UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/controller.h"

namespace wayfarer {

// The status line's text for a status code; empty for a code that leaves the
// previous text (1000, 2012 and unknown codes).
std::string StatusText(int32_t code);
// Row label of a category-1 item ("注册表"), empty for an unknown item.
std::string CheckItemLabel(int32_t item);
// Row label of a component row 1-4 ("密码安全控件"), empty otherwise.
std::string ComponentRowLabel(int32_t row);
// What a component row shows for a value ("未安装", "已被禁用", ...).
std::string ComponentText(int32_t row, int32_t value);
// The verdict line for verdict bits (0 in order).
std::string VerdictText(int32_t verdict);
// The operating system's name as the page shortens it.
std::string ShortSystemName(const std::string& description);


// One line in the page's words for a page call; empty when the page shows
// nothing for it (clearState, items without a row).
std::string DescribePageCall(const std::string& function, const std::vector<ScriptArg>& args);
// The same call as one JSON object on one line:
// {"function":"setState","args":[0,2,1002],"text":"正在检测注册表"}
std::string PageCallJson(const std::string& function, const std::vector<ScriptArg>& args);
// A JSON string literal (quotes included); control characters escaped.
std::string JsonString(const std::string& text);

}  // namespace wayfarer
