// wayfarer-cli: the check sequence and the one-click setup without a window,
// for support staff, scripted deployments and end-to-end tests.
//
//   wayfarer-cli [/check | /fix | /update] [/json] [/no] [/config-file PATH]
//
//   /check  run the whole check sequence (the default)
//   /fix    run the sequence, then the one-click setup: fix(0), install(0)
//   /update finish a self-update, then /check: wait (at most 30 s) until
//           the previous executable, moved aside to this one's path plus
//           ".old", has ended, and delete it. The checker starts itself so
//           after it has put a newer executable in place.
//   /json   one JSON object per line instead of the page's words
//   /no     prompts take their second choice instead of their first
//   /config-file PATH
//           test only: load this document instead of the built-in one
//
// Exit code: the verdict bits (0 all in order, 1 an environment check
// failed, 2 a component needs attention, 3 both); 4 when no verdict could be
// reached (no configuration document, or an update was swapped in and the
// new executable started, which runs the checks); 5 for a usage error.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/cli_host.h"
#include "app/controller.h"
#include "app/startup.h"
#include "app/windows_checks.h"
#include "common/text.h"
#include "config/windows_environment.h"

namespace {

constexpr int kNoVerdict = 4;
constexpr int kUsage = 5;

struct Arguments {
    bool fix = false;
    bool json = false;
    bool answerNo = false;
    bool update = false;
    std::wstring configFile;
    bool valid = true;
};

Arguments ParseArguments(int argc, wchar_t** argv) {
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"/check") {
            args.fix = false;
        } else if (arg == L"/fix") {
            args.fix = true;
        } else if (arg == L"/update") {
            args.update = true;
            args.fix = false;
        } else if (arg == L"/json") {
            args.json = true;
        } else if (arg == L"/no") {
            args.answerNo = true;
        } else if (arg == L"/config-file" && i + 1 < argc) {
            args.configFile = argv[++i];
        } else {
            args.valid = false;
        }
    }
    return args;
}

// The previous instance started us after moving its executable aside; its
// file can be deleted once it has ended.
void FinishUpdate() {
    switch (wayfarer::RemoveOldExecutable(wayfarer::OldExecutablePath())) {
        case wayfarer::OldFileOutcome::ScheduledAtReboot:
            std::fputs("wayfarer-cli: the previous executable is still in use; Windows deletes it when it restarts\n",
                       stderr);
            break;
        case wayfarer::OldFileOutcome::Left:
            std::fputs("wayfarer-cli: the previous executable could not be deleted\n", stderr);
            break;
        default:
            break;
    }
}

// Ends the process without destroying what workers may still hold.
[[noreturn]] void Finish(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::ExitProcess(static_cast<UINT>(code));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const Arguments args = ParseArguments(argc, argv);
    if (!args.valid) {
        std::fputs("usage: wayfarer-cli [/check | /fix | /update] [/json] [/no] [/config-file PATH]\n", stderr);
        return kUsage;
    }
    if (args.update) {
        FinishUpdate();
    }

    // Static: workers may outlive main's frame until ExitProcess.
    static wayfarer::CliHost host({args.json, args.answerNo});
    static const bool ownFile = !args.configFile.empty();
    static wayfarer::WindowsChecks checks(args.configFile,
                                          [](wayfarer::ConfigSource source) { host.PrintSource(source, ownFile); });
    static wayfarer::WindowsEnvironment environment;
    static wayfarer::WayfarerController controller(host, checks, environment);

    if (!host.Create(controller)) {
        std::fputs("wayfarer-cli: cannot create the message window\n", stderr);
        Finish(kNoVerdict);
    }

    controller.Start();
    controller.OnDocumentComplete();

    bool fixed = !args.fix;
    MSG message;
    for (;;) {
        if (host.StepOneJustFailed()) {
            host.PrintNote("wayfarer-cli: no configuration document could be loaded");
            Finish(kNoVerdict);
        }
        if (host.Idle()) {
            if (!fixed) {
                fixed = true;
                controller.fix(0);
                controller.install(0);
                continue;
            }
            break;
        }
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;  // the quit request after an update was started
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    const int verdict = controller.LastVerdict();
    Finish(host.QuitRequested() || verdict < 0 ? kNoVerdict : verdict);
}
