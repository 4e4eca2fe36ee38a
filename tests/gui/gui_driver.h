// Drives the desktop program's real widgets from inside its own event loop, for the GUI tests
// and the GUI benchmark. Everything here runs on the GUI thread.
#pragma once

#include "app/desktop.h"

#include <functional>
#include <string>

#include "platform/ui.h"

class QWidget;
class QMessageBox;

namespace gui {

// Processes events until `cond` holds or `timeoutMs` have passed; true when it held.
bool waitFor(const std::function<bool()>& cond, int timeoutMs = 10000);

// The first shown top-level widget for which `match` holds; nullptr when none.
QWidget* findShown(const std::function<bool(QWidget*)>& match);

// Acts on the next shown top-level widget for which `match` holds, from whichever event loop
// runs then (a modal dialog's included), so that a click that opens a modal dialog can be
// answered. Gives up after `timeoutMs`.
void whenShown(const std::function<bool(QWidget*)>& match, const std::function<void(QWidget*)>& act,
               int timeoutMs = 10000);

// A shown message box with this caption; nullptr when none.
QMessageBox* shownBox(const std::string& caption);

// Clicks control `id` of `dlg` as a mouse click would.
void click(Window dlg, int id);
// Queues that click for the event loop, for a control whose command opens a modal dialog.
void clickLater(Window dlg, int id);

// In a file chooser: picks `path` and confirms it.
void chooseFile(QWidget* chooser, const std::string& path);

// The program's state that runProgram runs on: one per test (see resetProgram), as a fresh
// run of the program has.
Desktop& desktop();
// Forgets it: the next runProgram starts from a state as new.
void freshDesktop();
// The main dialog while it is open, else nullptr.
inline Window mainDlg() { return desktop().dlg; }

// Runs zemtabuloMain() with `script` started inside its main dialog. When the script returns,
// message boxes still shown are closed and a main dialog still open is ended with Exit.
// Returns zemtabuloMain's result.
int runProgram(const std::function<void()>& script);

// Closes every shown message box.
void closeBoxes();

}  // namespace gui
