#include "config/retrieval_windows.h"

#include <windows.h>
#include <shlwapi.h>

#include <utility>

#include "common/handles.h"
#include "common/text.h"
#include "config/http_windows.h"

namespace wayfarer {

namespace {

constexpr const wchar_t* kLocalCopy = L".\\item.xml";

std::string ReadWholeFile(const wchar_t* path) {
    unique_hfile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {};
    }
    std::string text;
    char buffer[kReadChunk];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read != 0) {
        text.append(buffer, read);
    }
    return text;
}

}  // namespace

std::wstring ConfigurationAddress() {
#ifdef WAYFARER_TEST_CONFIG_URL_VARIABLE
    wchar_t buffer[2048];
    const DWORD length = ::GetEnvironmentVariableW(L"" WAYFARER_TEST_CONFIG_URL_VARIABLE, buffer, 2048);
    if (length > 0 && length < 2048) {
        return std::wstring(buffer, length);
    }
#endif
    return Utf8ToWide(WAYFARER_CONFIG_URL);
}

std::string FetchConfigDocument() {
    const unique_hinternet session = OpenHttpSession();
    return FetchUrl(session.get(), ConfigurationAddress());
}

void SaveLocalCopy(const std::string& text) {
    std::string bytes = text;
    ScrambleText(bytes);
    // A hidden file cannot be replaced by CREATE_ALWAYS without the flag.
    ::SetFileAttributesW(kLocalCopy, FILE_ATTRIBUTE_NORMAL);
    {
        unique_hfile file(::CreateFileW(kLocalCopy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return;
        }
        DWORD written = 0;
        const bool complete = bytes.size() <= MAXDWORD &&
                              ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                          &written, nullptr) &&
                              written == bytes.size();
        file.reset();
        if (!complete) {
            ::DeleteFileW(kLocalCopy);  // a cut copy would be read as the whole
            return;
        }
    }
    ::SetFileAttributesW(kLocalCopy, FILE_ATTRIBUTE_HIDDEN);
}

std::string LoadLocalCopy() {
    ::SetFileAttributesW(kLocalCopy, FILE_ATTRIBUTE_NORMAL);
    std::string bytes = ReadWholeFile(kLocalCopy);
    ::SetFileAttributesW(kLocalCopy, FILE_ATTRIBUTE_HIDDEN);
    ScrambleText(bytes);
    return bytes;
}

bool LocalCopyExists() {
    return ::PathFileExistsW(kLocalCopy) != FALSE;
}

std::string LoadResourceText(const wchar_t* name, const wchar_t* type) {
    HMODULE self = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(self, name, type);
    if (found == nullptr) {
        return {};
    }
    const DWORD size = ::SizeofResource(self, found);
    HGLOBAL loaded = ::LoadResource(self, found);
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr || size == 0) {
        return {};
    }
    return std::string(static_cast<const char*>(data), size);
}

WindowsConfigSources::WindowsConfigSources(std::wstring builtInFile) : builtInFile_(std::move(builtInFile)) {}

std::string WindowsConfigSources::FetchServerDocument() {
    return FetchConfigDocument();
}

void WindowsConfigSources::SaveLocalCopy(const std::string& text) {
    wayfarer::SaveLocalCopy(text);
}

bool WindowsConfigSources::LocalCopyExists() {
    return wayfarer::LocalCopyExists();
}

std::string WindowsConfigSources::LoadLocalCopy() {
    return wayfarer::LoadLocalCopy();
}

std::string WindowsConfigSources::LoadBuiltInDocument() {
    if (!builtInFile_.empty()) {
        return ReadWholeFile(builtInFile_.c_str());
    }
    return LoadResourceText(L"item.xml", MAKEINTRESOURCEW(23));
}

ConfigRetrieval ConfigWorker(CheckItems& fresh, const std::function<void()>& fetchFailed,
                             const std::wstring& builtInFile) {
    WindowsConfigSources sources(builtInFile);
    return RetrieveConfiguration(sources, fresh, fetchFailed);
}

}  // namespace wayfarer
