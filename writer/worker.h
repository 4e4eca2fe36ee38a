// The write job: the worker thread and its stages, and the completion watcher.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "serial/channel.h"
#include "writer/text_stream.h"

// Set by the worker once the screen data and the settings are written; cleared by the watcher
// when it starts.
extern std::atomic<int> writeDone;
// Tick count at the accepted Start; the watcher gives the seconds since it.
extern std::atomic<uint32_t> startTick;

// Thread entry of a write job over an opened channel whose writeBusy is 1. The V3 data file is
// opened before anything is sent. Ends with the port closed and writeBusy 0, however the job
// went.
void writeWorker(Channel* ch, const std::string& dataPath);

// Screen data: flash-write mode, save start, erase, the pieces of the file, save end.
void sendScreenData(Channel* ch, TextStream& file);

// The register writes built from the option controls, closed by "UC".
void sendSettings(Channel* ch);

// Asks the device for its data sum and shows it; returns after the sum box is closed.
void queryDataSum(Channel* ch);

// Thread entry of the watcher: sounds when the data is written, then, once writeBusy leaves 1,
// the closing sounds and the box with the elapsed seconds, then Start enabled again.
void completionWatcher(Channel* ch);

// Status line text, the channel given up, and the job unwound (see abortWrite).
[[noreturn]] void failWrite(Channel* ch, const std::string& status);
