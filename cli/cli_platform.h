// The few things zemtabulo-cli does differently on each system.
#pragma once

#include <string>

// What the operator can do about a port that would not open with the system's error `err`;
// empty when there is nothing to add to the system's text.
std::string openHint(int err, const std::string& device);

// True when standard output is a terminal (a console window on Windows).
bool stdoutIsTerminal();

// Lets SIGINT, SIGTERM and SIGHUP end the program as they would, with the lock files of its
// open ports removed first (nothing to do on Windows).
void releasePortLocksOnSignals();

// A standard stream the program was started without (closed, not redirected) is opened on the
// null device, so that the log file or a port opened later never takes its number and gets
// what was meant for it.
void keepStandardStreamsOpen();

// A reader of the program's output that went away (a closed pipe) is no reason to end: the
// write fails and the program goes on to record its devices. Children inherit it.
void ignoreBrokenPipes();

#ifndef _WIN32
// The warning that ModemManager runs (it probes new serial ports and can hold them); empty
// when no process under `procRoot` is ModemManager.
std::string modemManagerWarning(const std::string& procRoot = "/proc");
#endif
// False, with the reason on standard error, on a system too old for the program.
bool systemSupported();
