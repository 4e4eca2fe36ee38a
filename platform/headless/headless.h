// The headless backend: dialogs and controls held in memory, for the command-line tool and
// the tests. Control calls may come from any thread; each is done under one lock before it
// returns. Message boxes return at once; sounds are recorded, not played.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/ui.h"

// Builds a dialog from its template and sends it the initialisation message. It stays until
// headlessDestroy; endDialog only marks it ended.
Window headlessCreateDialog(const DialogTemplate& tmpl, DlgProc proc, void* data = nullptr);
void headlessDestroy(Window dlg);

// As if the operator clicked control `id`: an automatic check box toggles (a radio button is
// checked) first, then the dialog procedure gets the command.
void headlessClick(Window dlg, int id);

// As if the operator pressed `key` in the dialog: '\r' presses the default push button; any
// other character the enabled push button whose caption marks it with an ampersand. False
// when no button takes the key.
bool headlessKey(Window dlg, char key);

// As if a scanner typed `text` into edit box `id` and then Enter: the text replaces the box's
// (it has the focus); Enter sends the box's id to the procedure when it is a kScanField, else
// presses the default push button.
void headlessScan(Window dlg, int id, const std::string& text);
// The id of the control with the keyboard focus (setFocus or headlessScan); -1 for none.
int headlessFocus(Window dlg);

// Stands in for the dialog thread's message loop: delivers the commands posted to any dialog
// (postCommand) on the calling thread, in order, until `done` holds after a delivery or
// `wait` passes. Returns `done`'s last answer.
bool headlessPumpUntil(const std::function<bool()>& done, std::chrono::milliseconds wait);

// Ended by endDialog, and with which result.
bool headlessEnded(Window dlg, int* result = nullptr);

// What the front end wants to see; each hook runs on the calling thread, after the change.
struct HeadlessHooks {
    std::function<void(Window ctl, const std::string& text)> onText;
    std::function<void(Window bar, int low, int high, int pos)> onProgress;
    std::function<void(Window ctl, bool enabled)> onEnable;
    // A message box; without this hook it is printed on stdout.
    std::function<void(Window owner, const std::string& text, const std::string& caption)>
        onMessageBox;
    std::function<void(const std::string& file)> onSound;
    // A Yes/No question: returns the answer. Without this hook the answer is No.
    std::function<bool(Window owner, const std::string& text)> onAsk;
    // Modal dialogs opened by the logic (Port settings, About): acts on the open dialog, e.g.
    // picks an entry and clicks OK. A dialog still open afterwards is cancelled.
    std::function<void(Window dlg)> onDialog;
    // The open-file chooser: sets path and returns true, or returns false for a cancel.
    std::function<bool(std::string& path, const std::string& title)> onChooseFile;
    // The folder browser: sets folder and returns true, or returns false for a cancel.
    std::function<bool(std::string& folder, const std::string& title)> onBrowseFolder;
};

void headlessSetHooks(HeadlessHooks hooks);
HeadlessHooks& headlessHooks();

// The control's progress bar state.
void headlessProgress(Window bar, int* low, int* high, int* pos);
