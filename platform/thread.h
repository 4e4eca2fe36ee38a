// Starting the job's threads.
#pragma once

#include <functional>

// Starts `fn` on a new detached thread. False when the system could not start one.
bool startThread(std::function<void()> fn);

// Test hook: the n-th call of startThread from now (1 = the next) fails as if the system had
// no threads left. 0 cancels.
void failThreadStart(int n);
