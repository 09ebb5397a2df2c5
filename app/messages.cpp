#include "app/messages.h"

#include <atomic>

#include "app/res/resource.h"

namespace wayfarer {

namespace {

std::atomic<HWND> g_messageOwner{nullptr};

constexpr TASKDIALOG_FLAGS kBoxFlags =
    TDF_ENABLE_HYPERLINKS | TDF_USE_COMMAND_LINKS | TDF_EXPAND_FOOTER_AREA;

const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

TASKDIALOGCONFIG BoxConfig(HWND owner, const MessageTexts& texts) {
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.hwndParent = owner;
    config.dwFlags = kBoxFlags;
    config.pszWindowTitle = texts.title.c_str();
    config.pszMainInstruction = OrNull(texts.heading);
    config.pszContent = texts.text.c_str();
    return config;
}

}  // namespace

void SetMessageOwner(HWND mainWindow) noexcept { g_messageOwner.store(mainWindow); }

MessageApi SystemMessageApi() {
    MessageApi api;
    api.messageBox = &::MessageBoxW;
    // Loaded with the program for InitCommonControlsEx; version 5 has no
    // task dialog, so asking the loaded module is the availability test.
    if (HMODULE controls = ::GetModuleHandleW(L"comctl32.dll")) {
        api.taskDialog = reinterpret_cast<TaskDialogIndirectFn>(
            reinterpret_cast<void*>(::GetProcAddress(controls, "TaskDialogIndirect")));
    }
    return api;
}

std::wstring LoadText(HMODULE module, int id) {
    if (id <= 0) {
        return {};
    }
    const wchar_t* text = nullptr;
    // A length of 0 hands out the resource's own read-only text.
    const int length =
        ::LoadStringW(module, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) {
        return {};
    }
    return std::wstring(text, static_cast<size_t>(length));
}

MessageTexts LoadMessageTexts(HMODULE module, int textId, int headingId, int firstChoiceId) {
    MessageTexts texts;
    texts.title = LoadText(module, IDS_APP_TITLE);
    texts.text = LoadText(module, textId);
    texts.heading = LoadText(module, headingId);
    if (firstChoiceId > 0) {
        texts.firstChoice = LoadText(module, firstChoiceId);
        texts.secondChoice = LoadText(module, firstChoiceId + 1);
    }
    return texts;
}

int ShowPrompt(const MessageApi& api, HWND taskOwner, HWND boxOwner, const MessageTexts& texts) {
    if (api.taskDialog != nullptr) {
        const TASKDIALOG_BUTTON buttons[] = {
            {IDYES, texts.firstChoice.c_str()},
            {IDNO, texts.secondChoice.c_str()},
        };
        TASKDIALOGCONFIG config = BoxConfig(taskOwner, texts);
        config.cButtons = 2;
        config.pButtons = buttons;
        int chosen = 0;
        if (FAILED(api.taskDialog(&config, &chosen, nullptr, nullptr))) {
            return -1;
        }
        return chosen;
    }
    if (api.messageBox == nullptr) {
        return -1;
    }
    return api.messageBox(boxOwner, texts.text.c_str(), texts.title.c_str(), MB_OK);
}

int ShowNotice(const MessageApi& api, HWND taskOwner, HWND boxOwner, const MessageTexts& texts) {
    if (api.taskDialog != nullptr) {
        const TASKDIALOGCONFIG config = BoxConfig(taskOwner, texts);
        int chosen = 0;
        if (FAILED(api.taskDialog(&config, &chosen, nullptr, nullptr))) {
            return -1;
        }
        return chosen;
    }
    if (api.messageBox == nullptr) {
        return -1;
    }
    return api.messageBox(boxOwner, texts.text.c_str(), texts.title.c_str(),
                          MB_OK | MB_ICONINFORMATION);
}

int Prompt(int textId, int headingId, int firstChoiceId) {
    const MessageTexts texts =
        LoadMessageTexts(::GetModuleHandleW(nullptr), textId, headingId, firstChoiceId);
    return ShowPrompt(SystemMessageApi(), ::GetActiveWindow(), g_messageOwner.load(), texts);
}

int Notice(int textId, int headingId) {
    const MessageTexts texts = LoadMessageTexts(::GetModuleHandleW(nullptr), textId, headingId, 0);
    return ShowNotice(SystemMessageApi(), ::GetActiveWindow(), g_messageOwner.load(), texts);
}

}  // namespace wayfarer
