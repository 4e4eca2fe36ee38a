// What the Windows desktop program sets up on the Win32 backend before its first dialog.
#pragma once

#include <initializer_list>

// Controls of dialog `dialogId` that its template hides and that are shown all the same when
// the dialog opens (the main dialog's Start, About and Port settings buttons).
void win32ShowHiddenControls(int dialogId, std::initializer_list<int> ids);
