// Dialog templates built in memory from the template data, for dialogs that the program holds
// no resource of (the station window, whose rows are counted at run time).
#pragma once

// <windows.h> comes before the headers that build on it.
// clang-format off
#include <windows.h>
// clang-format on

#include <string>
#include <vector>

#include "platform/ui.h"

// The template in the form of a DIALOG resource with a FONT (DLGTEMPLATE with DS_SETFONT), its
// texts in UTF-16, ready for DialogBoxIndirectParamW. Empty when the data does not fit that
// form: more controls, or an id or a coordinate larger, than its fields hold.
std::vector<WORD> win32DialogTemplate(const DialogTemplate& tmpl);

// A UTF-8 text as UTF-16; invalid sequences become U+FFFD.
std::wstring win32Wide(const char* utf8);
