#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "checks/network.h"

namespace wayfarer {
namespace {

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(ResolveHostTest, ResolvesNamesAndNumbersAndRefusesWhatCannotBeLookedUp) {
    EXPECT_TRUE(Contains(ResolveHost("localhost"), "127.0.0.1"));
    EXPECT_TRUE(Contains(ResolveHost("127.0.0.1"), "127.0.0.1"));
    EXPECT_TRUE(ResolveHost("255.255.255.255").empty());
    EXPECT_TRUE(ResolveHost("no-such-host.invalid").empty());
    EXPECT_TRUE(ResolveHost("").empty());
}

// A loopback HTTP listener that answers every request with one status and
// closes the connection. No TLS: the bank's fake HTTPS server is another
// fixture's.
class LoopbackHttp {
public:
    explicit LoopbackHttp(int status) : status_(status) {
        WSADATA data{};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (listener_ == INVALID_SOCKET ||
            bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackHttp() {
        stop_ = true;
        // Wakes the accept that may be waiting.
        const SOCKET wake = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(port_));
        if (wake != INVALID_SOCKET) {
            // Refused once the listener has gone; then there is nothing to wake.
            static_cast<void>(connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof address));
            closesocket(wake);
        }
        if (thread_.joinable()) {
            thread_.join();
        }
        if (listener_ != INVALID_SOCKET) {
            closesocket(listener_);
        }
        if (started_) {
            WSACleanup();
        }
    }
    LoopbackHttp(const LoopbackHttp&) = delete;
    LoopbackHttp& operator=(const LoopbackHttp&) = delete;

    int port() const { return port_; }
    int requests() const { return requests_; }
    std::wstring Url(const wchar_t* path = L"/") const {
        return L"http://127.0.0.1:" + std::to_wstring(port_) + path;
    }

private:
    void Serve() {
        while (!stop_) {
            const SOCKET client = accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET) {
                return;
            }
            std::string request;
            char buffer[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int got = recv(client, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    break;
                }
                request.append(buffer, static_cast<size_t>(got));
            }
            if (!stop_ && request.find("\r\n\r\n") != std::string::npos) {
                ++requests_;
                const std::string reply = "HTTP/1.1 " + std::to_string(status_) +
                                          " Status\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
                send(client, reply.data(), static_cast<int>(reply.size()), 0);
            }
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }

    int status_;
    bool started_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

// A loopback port with nothing listening on it.
std::wstring ClosedPortUrl() {
    LoopbackHttp gone(200);
    const int port = gone.port();
    return L"http://127.0.0.1:" + std::to_wstring(port) + L"/";  // closed when `gone` ends
}

TEST(ProbeUrlsTest, AnyStatusIsReachableAConnectionFailureIsNot) {
    LoopbackHttp ok(200);
    LoopbackHttp missing(404);
    ASSERT_NE(ok.port(), 0);
    ASSERT_NE(missing.port(), 0);
    const std::wstring closed = ClosedPortUrl();

    struct Case {
        const char* name;
        std::vector<std::wstring> urls;
        bool reachable;
    };
    const Case cases[] = {
        {"200", {ok.Url()}, true},
        {"404 still answers", {missing.Url(L"/nothing")}, true},
        {"both", {ok.Url(), missing.Url()}, true},
        {"closed port", {closed}, false},
        {"closed port after a good one", {ok.Url(), closed}, false},
        {"no URLs", {}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProbeUrls(c.urls), c.reachable) << c.name;
    }
    EXPECT_GT(missing.requests(), 0);
}

TEST(ProbeUrlsTest, StopsAtTheFirstUnreachableUrl) {
    LoopbackHttp ok(200);
    ASSERT_NE(ok.port(), 0);
    EXPECT_FALSE(ProbeUrls({ClosedPortUrl(), ok.Url()}));
    EXPECT_EQ(ok.requests(), 0);
}

TEST(ProbeServiceTest, OpensTheServiceGroupsUrls) {
    LoopbackHttp ok(200);
    ASSERT_NE(ok.port(), 0);
    ConfigGroup service;
    service.type = "service";
    std::string url = "http://127.0.0.1:" + std::to_string(ok.port()) + "/网银";
    service.entries.push_back(ConfigEntry{url, "", "", "", ""});
    EXPECT_TRUE(ProbeService({service}));
    EXPECT_EQ(ok.requests(), 1);
    // Reloaded every time, never answered from the cache.
    EXPECT_TRUE(ProbeService({service}));
    EXPECT_EQ(ok.requests(), 2);
    service.entries.push_back(ConfigEntry{"http://no-such-host.invalid/", "", "", "", ""});
    EXPECT_FALSE(ProbeService({service}));
}

}  // namespace
}  // namespace wayfarer
