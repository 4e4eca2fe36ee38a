// The Qt backend's own calls beyond platform/ui.h: for the desktop program's set-up and for
// tests and benchmarks that drive the real widgets.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>

#include "platform/ui.h"

class QFont;
class QWidget;

// Controls that a dialog template hides but this program shows at their template place.
void qtShowHiddenControls(int dialogId, std::initializer_list<int> ids);

// The widget of a window; nullptr for none or one that is gone. GUI thread only.
QWidget* qtWidget(Window w);
// The window of one of our widgets; nullptr for any other widget. GUI thread only.
Window qtWindow(const QWidget* widget);

// A progress bar's range and position as the program set them.
void qtProgress(Window bar, int* low, int* high, int* pos);

// Told each file name playSound is asked for, on the calling thread, before it plays.
void qtSetSoundObserver(std::function<void(const std::string& file)> observer);

// The wave file playSound plays for `file`: as given, else in `programDir`, else in
// `programDir`/../share/zemtabulo, else in the configured data folder; empty when none holds it.
std::string qtFindSound(const std::string& file, const std::string& programDir);

// False once a sound could not be played for want of a sound device (sounds are not tried
// again in this run).
bool qtSoundDevice();

// The font a dialog template's face and point size stand for here, and its dialog base units
// (average character width and height in pixels).
QFont qtDialogFont(const std::string& face, int pointSize);
void qtBaseUnits(const QFont& font, int* baseX, int* baseY);

// Qt's own texts (the choosers' labels and buttons, their warnings) in Japanese like the rest
// of the program, from Qt's installed translations; English where they are not installed.
void qtInstallTranslations();

// Where the folder browser starts: `folder` when it is a folder, else where removable media are
// mounted for `user` below `root` ("/" but in tests): media/USER, else run/media/USER; else
// `home`.
std::string qtBrowseStart(const std::string& folder, const std::string& root,
                          const std::string& user, const std::string& home);

// Returns once no playSound call is running (at most a few seconds), at once when none is.
void qtWaitForSounds();

// Ends the process with `status`: windows hidden, a sound being played let end, output
// flushed, no clean-up that could race the write job's threads (nor a wait for them, or for a
// thread that may play a sound later). GUI thread only.
[[noreturn]] void qtLeaveProgram(int status);
