#include "common/text.h"

#include <windows.h>

#include <climits>

namespace wayfarer {

std::wstring ToWide(std::string_view text, unsigned int codePage) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (units <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(units), L'\0');
    if (MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], units) != units) {
        return {};
    }
    return wide;
}

std::string ToNarrow(std::wstring_view text, unsigned int codePage) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return {};
    }
    std::string narrow(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(codePage, 0, text.data(), length, &narrow[0], bytes, nullptr,
                            nullptr) != bytes) {
        return {};
    }
    return narrow;
}

std::wstring Utf8ToWide(std::string_view text) { return ToWide(text, CP_UTF8); }
std::string WideToUtf8(std::wstring_view text) { return ToNarrow(text, CP_UTF8); }
std::string Utf8ToAnsi(std::string_view text) { return ToNarrow(Utf8ToWide(text), CP_ACP); }
std::string AnsiToUtf8(std::string_view text) { return WideToUtf8(ToWide(text, CP_ACP)); }

std::wstring ExpandPath(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const std::wstring source(text);  // the call wants a terminated string
    wchar_t buffer[MAX_PATH];
    const DWORD needed = ExpandEnvironmentStringsW(source.c_str(), buffer, MAX_PATH);
    if (needed == 0 || needed > MAX_PATH) {
        return {};
    }
    return std::wstring(buffer);
}

}  // namespace wayfarer
