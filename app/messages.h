// The two modal message boxes, Prompt (two choices) and Notice (OK), with
// texts from the string table. A task dialog where the system has one, a
// message box otherwise. Any thread may call them. Windows only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace wayfarer {

// The owner of the fallback message box: the application's main window.
void SetMessageOwner(HWND mainWindow) noexcept;

// 6 for the first choice, 7 for the second, 1 for the fallback box's OK,
// -1 when the task dialog fails.
int Prompt(int textId, int headingId, int firstChoiceId);
int Notice(int textId, int headingId);

// The parts below let a test drive the boxes without showing them.

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
using MessageBoxFn = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);

struct MessageApi {
    TaskDialogIndirectFn taskDialog = nullptr;  // none: the system has no task dialogs
    MessageBoxFn messageBox = nullptr;
};

// The task dialog of the common controls loaded into the process (version 6
// only, which the manifest asks for), and the system's message box.
MessageApi SystemMessageApi();

struct MessageTexts {
    std::wstring title;
    std::wstring heading;
    std::wstring text;
    std::wstring firstChoice;
    std::wstring secondChoice;
};

// Id 0, or an id the table lacks, gives an empty text.
std::wstring LoadText(HMODULE module, int id);
// The title is string 136; the second choice is the id after the first; a
// first choice of 0 loads no choices.
MessageTexts LoadMessageTexts(HMODULE module, int textId, int headingId, int firstChoiceId);

int ShowPrompt(const MessageApi& api, HWND taskOwner, HWND boxOwner, const MessageTexts& texts);
int ShowNotice(const MessageApi& api, HWND taskOwner, HWND boxOwner, const MessageTexts& texts);

}  // namespace wayfarer
