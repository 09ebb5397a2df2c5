// The probes of component detection that touch files. Windows only.
#pragma once

#include <windows.h>

#include <string>

#include "config/check_items.h"

namespace wayfarer {

// The file's fixed version block; false when it has none or cannot be read.
bool ReadFileVersion(const std::wstring& path, VS_FIXEDFILEINFO& info);

// The MD5 digest of the file's content as 32 lower-case hex digits; empty
// when the file cannot be read to its end. Opened by its wide path, so a
// name the ANSI code page cannot spell is still found.
std::string FileMd5Hex(const std::wstring& path);

// The entry's local file exists, meets its version (when one is given) and
// has exactly its md5 (when one is given; upper-case never matches).
bool CheckFileEntry(const FileRef& file);

}  // namespace wayfarer
