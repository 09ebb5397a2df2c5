#include "app/cli_host.h"

#include <thread>
#include <utility>

#include "app/messages.h"
#include "app/state_text.h"
#include "app/window_timer.h"
#include "common/text.h"

namespace wayfarer {

namespace {

// A worker ended: wakes the loop so that it can see the run is over.
constexpr UINT kWorkerDoneMessage = WM_APP + 2;
constexpr wchar_t kClassName[] = L"WayfarerConsoleHost";

void WriteUtf8(FILE* stream, const std::string& line) {
    const HANDLE handle = ::GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Utf8ToWide(line + "\n");
        DWORD written = 0;
        ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// The window's message texts, from this program's own copy of its table.
std::string Text(int id) { return WideToUtf8(LoadText(::GetModuleHandleW(nullptr), id)); }

}  // namespace

CliHost::CliHost(Options options) : options_(options) {}

CliHost::~CliHost() {
    if (window_ != nullptr) {
        ::DestroyWindow(window_);
    }
}

bool CliHost::Create(WayfarerController& controller) {
    controller_ = &controller;
    thread_ = ::GetCurrentThreadId();
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &CliHost::WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    if (::RegisterClassExW(&windowClass) == 0) {
        return false;
    }
    window_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, this);
    return window_ != nullptr;
}

LRESULT CALLBACK CliHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<CliHost*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
        if (HandleWindowTimerMessage(window, message, wParam, lParam)) {
            // A worker's arming or kill, made now: Idle() must see it.
            if (message == kArmTimerMessage) {
                self->armed_.insert(static_cast<int>(wParam));
            } else {
                self->armed_.erase(static_cast<int>(wParam));
            }
            return 0;
        }
        switch (message) {
            case WM_TIMER:
                self->OnStep(static_cast<int>(wParam));
                return 0;
            case kWorkerDoneMessage:
                return 0;
            default:
                break;
        }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void CliHost::OnStep(int id) {
    // Step 1 polls for a document; once the worker has ended and a poll has
    // still found none, no document will come.
    const bool workerEnded = id == 1 && !controller_->configThread();
    controller_->OnTimer(id);
    if (workerEnded && !controller_->Document().configLoaded) {
        stepOneFailed_ = true;
    }
}

// USER_TIMER_MINIMUM applies to 0: the step still runs from the loop.
void CliHost::ArmStep(int id, uint32_t delayMs) {
    ArmWindowTimer(window_, static_cast<UINT_PTR>(id), delayMs);
    // From a worker the arming is posted; the window procedure records it.
    if (::GetCurrentThreadId() == thread_) {
        armed_.insert(id);
    }
}

void CliHost::KillStep(int id) {
    KillWindowTimer(window_, static_cast<UINT_PTR>(id));
    if (::GetCurrentThreadId() == thread_) {
        armed_.erase(id);
    }
}

void CliHost::CallScript(const char* function, const std::vector<ScriptArg>& args) {
    if (options_.json) {
        PrintLine(PageCallJson(function, args));
        return;
    }
    const std::string text = DescribePageCall(function, args);
    if (!text.empty()) {
        PrintLine(text);
    }
}

bool CliHost::StartWorker(WorkerKind, std::function<void()> body) {
    workers_.fetch_add(1);
    const HWND window = window_;
    std::atomic<int>* workers = &workers_;
    std::thread thread;
    try {
        thread = std::thread([body = std::move(body), window, workers] {
            body();
            workers->fetch_sub(1);
            ::PostMessageW(window, kWorkerDoneMessage, 0, 0);
        });
    } catch (...) {
        workers_.fetch_sub(1);
        return false;
    }
    thread.detach();  // never joined: the process ends without waiting
    return true;
}

void CliHost::RequestQuit() {
    quit_ = true;
    ::PostQuitMessage(0);
}

int CliHost::Prompt(int textId, int headingId, int firstChoiceId) {
    const int choice = options_.answerNo ? firstChoiceId + 1 : firstChoiceId;
    const std::string text = Text(headingId) + "：" + Text(textId) + " → " + Text(choice);
    if (options_.json) {
        PrintLine("{\"prompt\":" + std::to_string(textId) + ",\"text\":" + JsonString(text) + ",\"answer\":" +
                  std::to_string(options_.answerNo ? kIdNo : kIdYes) + "}");
    } else {
        PrintLine(text);
    }
    return options_.answerNo ? kIdNo : kIdYes;
}

int CliHost::Notice(int textId, int headingId) {
    std::string text = Text(textId);
    if (headingId != 0) {
        text = Text(headingId) + "：" + text;
    }
    if (options_.json) {
        PrintLine("{\"notice\":" + std::to_string(textId) + ",\"text\":" + JsonString(text) + "}");
    } else {
        PrintLine(text);
    }
    return IDOK;
}

void CliHost::PrintLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(printLock_);
    WriteUtf8(stdout, line);
}

void CliHost::PrintNote(const std::string& line) {
    std::lock_guard<std::mutex> lock(printLock_);
    WriteUtf8(stderr, line);
}

void CliHost::PrintSource(ConfigSource source, bool ownFile) {
    struct Name {
        const char* json;
        const char* text;
    };
    Name name{"none", "无"};
    switch (source) {
    case ConfigSource::Server: name = {"server", "银行服务器"}; break;
    case ConfigSource::LocalCopy: name = {"local copy", "本地副本"}; break;
    case ConfigSource::BuiltIn: name = ownFile ? Name{"file", "指定文件"} : Name{"built-in", "内置默认配置"}; break;
    case ConfigSource::None: break;
    }
    if (options_.json) {
        PrintLine(std::string("{\"configuration\":\"") + name.json + "\"}");
    } else {
        PrintLine(std::string("配置文件：") + name.text);
    }
}

bool CliHost::Idle() const {
    if (workers_.load() != 0) {
        return false;
    }
    // A worker's last arming may still be on its way to the window.
    MSG pending;
    if (::PeekMessageW(&pending, window_, kArmTimerMessage, kKillTimerMessage, PM_NOREMOVE)) {
        return false;
    }
    for (const int id : armed_) {
        if (id != 3) {
            return false;
        }
    }
    return true;
}

}  // namespace wayfarer
