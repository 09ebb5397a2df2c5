#include "config/http_windows.h"

#include <wininet.h>

#include "config/retrieval.h"

namespace wayfarer {

namespace {

constexpr DWORD_PTR kContext = 1;

// Opens and sends `url`, then reads status and length into `outcome`.
unique_hinternet SendRequest(HINTERNET session, const std::wstring& url, HttpOutcome& outcome) {
    if (session == nullptr) {
        return {};
    }
    unique_hinternet request(
        ::InternetOpenUrlW(session, url.c_str(), nullptr, 0, RequestFlags(url), kContext));
    if (!request) {
        return {};
    }
    if (!::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
        return {};
    }
    outcome.opened = true;
    DWORD status = 0;
    DWORD size = sizeof status;
    DWORD index = 0;
    if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                          &index)) {
        status = 0;
    }
    DWORD length = 0;
    size = sizeof length;
    index = 0;
    if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length,
                          &size, &index)) {
        length = 0;
    }
    outcome.status = status;
    outcome.length = length;
    return request;
}

// Reads the body to its end in 4096-byte chunks, handing each to `sink`;
// a failing read or sink marks the outcome.
template <typename Sink>
void ReadBody(HINTERNET request, HttpOutcome& outcome, Sink&& sink) {
    char buffer[kReadChunk];
    for (;;) {
        DWORD read = 0;
        if (!::InternetReadFile(request, buffer, sizeof buffer, &read)) {
            outcome.readFailed = true;
            return;
        }
        if (read == 0) {
            return;
        }
        if (!sink(buffer, read)) {
            outcome.readFailed = true;
            return;
        }
        outcome.received += read;
    }
}

}  // namespace

unique_hinternet OpenHttpSession() {
    return unique_hinternet(
        ::InternetOpenW(L"Mozilla/5.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

std::string FetchUrl(HINTERNET session, const std::wstring& url) {
    HttpOutcome outcome;
    std::string body;
    {
        const unique_hinternet request = SendRequest(session, url, outcome);
        if (request && outcome.status == 200) {
            ReadBody(request.get(), outcome, [&body](const char* data, DWORD count) {
                body.append(data, count);
                return true;
            });
        }
    }
    if (!BodyAccepted(outcome)) {
        body.clear();
    }
    return body;
}

uint32_t DownloadToFile(HINTERNET session, const std::wstring& url, const std::wstring& localPath,
                        std::atomic<int32_t>* progress) {
    unique_hfile file(::CreateFileW(localPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return 0;
    }
    HttpOutcome outcome;
    {
        const unique_hinternet request = SendRequest(session, url, outcome);
        if (progress != nullptr) {
            progress->store(0, std::memory_order_release);
        }
        if (request && outcome.status == 200) {
            const uint32_t length = outcome.length;
            ReadBody(request.get(), outcome, [&](const char* data, DWORD count) {
                DWORD written = 0;
                if (!::WriteFile(file.get(), data, count, &written, nullptr) || written != count) {
                    return false;
                }
                if (progress != nullptr && length != 0) {
                    progress->store(ProgressPercent(outcome.received + count, length),
                                    std::memory_order_release);
                }
                return true;
            });
        }
    }
    file.reset();
    const uint32_t result = DownloadResult(outcome);
    if (result == 0) {
        ::DeleteFileW(localPath.c_str());
    } else if (progress != nullptr) {
        progress->store(100, std::memory_order_release);  // also when no length was given
    }
    return result;
}

}  // namespace wayfarer
