// The console checker's host: a message-only window whose timers drive the
// controller, worker threads, and the console for the page and the message
// boxes. Windows only.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "app/controller.h"
#include "config/retrieval.h"

namespace wayfarer {

class CliHost final : public ControllerHost {
public:
    struct Options {
        bool json = false;
        bool answerNo = false;  // prompts take their second choice
    };

    explicit CliHost(Options options);
    ~CliHost() override;
    CliHost(const CliHost&) = delete;
    CliHost& operator=(const CliHost&) = delete;

    // False when the window cannot be created.
    bool Create(WayfarerController& controller);

    void ArmStep(int id, uint32_t delayMs) override;
    void KillStep(int id) override;
    void CallScript(const char* function, const std::vector<ScriptArg>& args) override;
    bool StartWorker(WorkerKind kind, std::function<void()> body) override;
    void RequestQuit() override;
    int Prompt(int textId, int headingId, int firstChoiceId) override;
    int Notice(int textId, int headingId) override;

    // One line to stdout (UTF-8), whole lines only across threads.
    void PrintLine(const std::string& line);
    // A note about the run itself, to stderr.
    void PrintNote(const std::string& line);
    // Where the configuration came from: a line of its own (JSON: the key
    // "configuration"). `ownFile`: the built-in document was the given file.
    void PrintSource(ConfigSource source, bool ownFile);

    // Nothing armed that leads anywhere and no worker running. A step-3
    // poll with no installation left is not work.
    bool Idle() const;
    bool QuitRequested() const { return quit_; }
    bool StepOneJustFailed() const { return stepOneFailed_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnStep(int id);

    Options options_;
    WayfarerController* controller_ = nullptr;
    HWND window_ = nullptr;
    DWORD thread_ = 0;
    std::set<int> armed_;  // window thread only
    std::atomic<int> workers_{0};
    std::mutex printLock_;
    bool quit_ = false;
    bool stepOneFailed_ = false;
};

}  // namespace wayfarer
