#include <windows.h>

#include <algorithm>

#include "checks/hosts.h"
#include "common/handles.h"
#include "common/text.h"

namespace wayfarer {

namespace {

// Far beyond any real hosts file; larger is treated as unreadable rather
// than read into a 32-bit process.
constexpr LONGLONG kMaxHostsBytes = 64LL * 1024 * 1024;

HostsFileState ReadHostsFile(const std::wstring& path, std::string& bytes) {
    if (path.empty()) {
        return HostsFileState::Unreadable;
    }
    const unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? HostsFileState::Missing
                   : HostsFileState::Unreadable;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || size.QuadPart > kMaxHostsBytes) {
        return HostsFileState::Unreadable;
    }
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
        bytes.clear();
        return HostsFileState::Unreadable;
    }
    return HostsFileState::Read;
}

bool WriteNewFile(const std::wstring& path, const std::string& content) {
    const unique_hfile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    size_t done = 0;
    while (done < content.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file.get(), content.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return FlushFileBuffers(file.get()) != FALSE;
}

// The new text goes into a file beside the old one, which then takes the
// old one's place, attributes and security: an interrupted repair leaves
// either file whole, never a truncated one.
bool ReplaceHostsFile(const std::wstring& path, const std::string& content) {
    {
        // A file that cannot be opened for writing (read-only, locked, no
        // rights) is left as it is.
        const unique_hfile probe(CreateFileW(path.c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe) {
            return false;
        }
    }
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    wchar_t temp[MAX_PATH];
    if (GetTempFileNameW(folder.c_str(), L"hst", 0, temp) == 0) {
        return false;
    }
    const std::wstring replacement(temp);
    // With a backup name, a failed swap can always be undone.
    const std::wstring backup = replacement + L".old";
    if (!WriteNewFile(replacement, content)) {
        DeleteFileW(replacement.c_str());
        return false;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (!ReplaceFileW(path.c_str(), replacement.c_str(), backup.c_str(),
                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            MoveFileExW(backup.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        DeleteFileW(replacement.c_str());
        return false;
    }
    DeleteFileW(backup.c_str());
    // ReplaceFileW carries the attributes over on Windows; Wine's does not.
    if (attributes != INVALID_FILE_ATTRIBUTES && GetFileAttributesW(path.c_str()) != attributes) {
        SetFileAttributesW(path.c_str(), attributes);
    }
    return true;
}

bool HostsFileResult(const CheckItems& items, bool repair, const HostsFileOptions& options) {
    const ConfigGroup* group = items.FindGroup("host");
    if (group == nullptr) {
        return true;
    }
    std::vector<std::string> hosts;
    hosts.reserve(group->entries.size());
    for (const auto& entry : group->entries) {
        hosts.push_back(entry.text);
    }
    const std::wstring path = options.path.empty()
                                  ? ExpandPath(L"%windir%\\system32\\drivers\\etc\\hosts")
                                  : options.path;
    std::string bytes;
    const HostsFileState state = ReadHostsFile(path, bytes);
    const HostsPlan plan = PlanHostsFile(state, bytes, hosts, repair);
    if (!plan.write) {
        return plan.ok;
    }
    if (!ReplaceHostsFile(path, plan.content)) {
        return false;
    }
    if (options.afterRewrite) {
        options.afterRewrite();
    }
    return true;
}

}  // namespace

bool CheckHostsFile(CheckItems& items, bool repair, const HostsFileOptions& options) {
    const bool result = HostsFileResult(items, repair, options);
    items.hostsOk = result;
    return result;
}

}  // namespace wayfarer
