// Text conversions between the document's UTF-8, UTF-16 for the system's wide
// calls, and the ANSI code page for its narrow ones. Windows only.
// A failed or empty conversion yields empty text.
#pragma once

#include <string>
#include <string_view>

namespace wayfarer {

std::wstring ToWide(std::string_view text, unsigned int codePage);
std::string ToNarrow(std::wstring_view text, unsigned int codePage);

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
std::string Utf8ToAnsi(std::string_view text);
std::string AnsiToUtf8(std::string_view text);

// %NAME% references expanded as the system does, within a MAX_PATH buffer;
// empty when the expansion fails or would not fit (never a cut path).
std::wstring ExpandPath(std::wstring_view text);

}  // namespace wayfarer
