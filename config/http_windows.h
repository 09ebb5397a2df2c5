// The two HTTP primitives on WinINet: a URL into memory, a URL into a file.
// Windows only.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "common/handles.h"

namespace wayfarer {

// A session with the agent "Mozilla/5.0" and the system's proxy settings;
// empty on failure. One per operation and thread.
unique_hinternet OpenHttpSession();

// The body of `url` when the status is 200 and the body is as long as its
// Content-Length says (any length when it says none); empty otherwise.
std::string FetchUrl(HINTERNET session, const std::wstring& url);

// Downloads `url` into `localPath` (replaced). The result is the length when
// the whole body was stored, the bytes stored when there was no length, and
// 0 on any failure, which leaves no file behind. `progress`, when given,
// goes from 0 to 100. Nothing is requested when the file cannot be created.
uint32_t DownloadToFile(HINTERNET session, const std::wstring& url, const std::wstring& localPath,
                        std::atomic<int32_t>* progress);

}  // namespace wayfarer
