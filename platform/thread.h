// Starting the job's threads.
#pragma once

#include <functional>

// Starts `fn` on a new detached thread. False when the system could not start one.
bool startThread(std::function<void()> fn);

// Test hook: the next `count` calls of startThread fail as if the system had no threads left.
void failNextThreadStarts(int count);
