// A serial port held in memory for the fuzz targets: what the "device" sends waits in a queue
// that reads take from, a few bytes or all of them at a time; what the tool writes is dropped.
#pragma once

#include <cstddef>
#include <cstdint>

// Empties the queue.
void fakeSerialReset();
// Appends bytes the device sends.
void fakeSerialFeed(const uint8_t* data, size_t n);
// Bytes still waiting to be read.
size_t fakeSerialPending();
