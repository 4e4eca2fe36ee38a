// Dialogs and controls addressed by id, message boxes, file choosers, the folder browser and
// sound. The dialog logic is written once against these calls; each backend (headless, Qt,
// Win32) makes the controls real.
//
// Threads: the dialog procedures run on the dialog thread. Any thread may call the control
// calls below; a backend carries them out on the dialog thread (or under its own lock) and
// returns only when they are done, so a caller always sees the control's current state.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct WindowObj;               // defined by each backend
using Window = WindowObj*;      // a dialog or one of its controls; nullptr is none

// ---- Dialog templates: held as data by the application, built by the backend ----

enum class ControlKind {
    PushButton,
    DefPushButton,
    CheckBox,      // automatic check box
    RadioButton,   // automatic radio button
    StaticText,
    StaticBitmap,  // caption names the bitmap resource
    ComboDropList, // drop-down list, not typed into
    Progress,
    Edit,          // single-line edit box, typed into
};

// Style bits of a control in a template.
enum : unsigned {
    kHidden = 1u << 0,       // created but not shown
    kDisabled = 1u << 1,
    kTabStop = 1u << 2,
    kGroup = 1u << 3,        // first of a group
    kVCenter = 1u << 4,      // static text centred vertically
    kNoPrefix = 1u << 5,     // an ampersand is shown literally
    kMultiline = 1u << 6,    // caption may hold a line break
    kBorder = 1u << 7,
    kVScroll = 1u << 8,
    kLargeText = 1u << 9,    // static text in a large bold face (from its height), centred
    // An edit box typed into by a keyboard-wedge scanner: the input method stays off (it would
    // compose the scanner's keystrokes, or turn them into wide characters), and Enter in it
    // sends the dialog the edit box's own id as a command instead of pressing the default
    // button (the scan's end acts on its own row, not on the whole window).
    kScanField = 1u << 10,
};

// A push button whose caption marks a character with an ampersand ("開始(&1)") is pressed by
// that key alone while the keyboard focus is not in an edit box, as in any dialog; Enter
// presses the default push button (or the push button that has the focus).

struct ControlTemplate {
    int id;  // -1 for controls that have none
    ControlKind kind;
    const char* caption;
    int x, y, cx, cy;  // dialog units
    unsigned style;
};

struct DialogTemplate {
    int id;
    const char* title;
    int x, y, cx, cy;  // dialog units; x, y ignored when centred
    bool centred;
    const char* font;
    int pointSize;
    std::span<const ControlTemplate> controls;  // template order = tab order
};

// ---- Dialog procedures ----

enum : unsigned { kMsgInitDialog = 0x0110, kMsgCommand = 0x0111 };

// Returns true when the message was handled.
using DlgProc = bool (*)(Window dlg, unsigned msg, int id);

// Runs a dialog modally and returns the result given to endDialog. `data` is the state the
// dialog's procedure works on (see dialogData), owned by the caller.
int dialogBox(const DialogTemplate& tmpl, Window owner, DlgProc proc, void* data = nullptr);
// The `data` the dialog was opened with, from its first message on; nullptr for none.
void* dialogData(Window dlg);
void endDialog(Window dlg, int result);

// From any thread: the command `id` for the dialog's procedure, delivered on the dialog thread
// after what is already queued there, as a posted window message is. Returns at once; a
// command for a dialog that has ended is dropped.
void postCommand(Window dlg, int id);

// ---- Controls ----

Window dlgItem(Window dlg, int id);
void setWindowText(Window w, const std::string& text);
std::string windowText(Window w);
void enableWindow(Window w, bool enable);
// The keyboard focus to the control (an edit box's text selected), as the Tab key would.
void setFocus(Window w);
bool isWindowEnabled(Window w);
bool isWindowVisible(Window w);
void updateWindow(Window w);      // repaint now
void invalidateWindow(Window w);  // repaint the whole window, background erased

enum : int { kUnchecked = 0, kChecked = 1, kIndeterminate = 2 };
int buttonState(Window dlg, int id);
int checkState(Window button);
void setButtonState(Window dlg, int id, int state);
// Checks `check` and clears the other radio buttons with ids first..last.
void checkRadioButton(Window dlg, int first, int last, int check);

int comboAdd(Window combo, const std::string& text);  // returns the new item's index
int comboCount(Window combo);
void comboSetSel(Window combo, int index);  // -1 clears the selection
int comboSel(Window combo);                 // -1 when nothing is selected
std::string comboText(Window combo, int index);
// The list's select-string search: the first item after `start` (wrapping round, -1 for the
// whole list from the top) that begins with `text`, letter case ignored; -1 when none.
int comboFindPrefix(Window combo, int start, const std::string& text);

void progressSetRange(Window bar, int32_t low, int32_t high);
void progressSetPos(Window bar, int32_t pos);

// Background colour of a static text as 0xRRGGBB; kNoColour gives it the dialog's own back.
// Its text is drawn in black on a colour.
constexpr uint32_t kNoColour = 0xFFFFFFFFu;
void setControlColour(Window w, uint32_t rgb);
uint32_t controlColour(Window w);

// ---- Common dialogs, message boxes, sound ----

enum : unsigned { kMbOk = 0x0, kMbIconInformation = 0x40 };
// Shows a message box with an OK button; `owner` nullptr for a box with no owner.
void messageBox(Window owner, const std::string& text, const std::string& caption,
                unsigned flags);

// A question with Yes and No buttons (No the default); true for Yes.
bool askYesNo(Window owner, const std::string& text, const std::string& caption);

// Open-file chooser. `filter` is the block of shown text / pattern pairs, each ended with a
// NUL, the block ended with one more NUL. `path` is the initial name and the result (at most
// `capacity` - 1 characters). The chosen file must exist. False when cancelled.
bool chooseOpenFile(Window owner, std::string& path, size_t capacity, const std::string& filter,
                    const std::string& title);

// Folder browser, directories only. False when cancelled.
bool browseForFolder(Window owner, const std::string& title, std::string& folder);

// Ends the program with `status` after the front end has let go of its windows. Used by the
// port error stop, which may run on the write worker's thread.
[[noreturn]] void exitProgram(int status);

// Plays a wave file to its end; a missing file plays the default alert sound. Returns at once
// when there is no sound device.
void playSound(const std::string& file);
