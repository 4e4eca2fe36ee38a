// The stages of a write job, for the job itself and the tests that run one stage alone.
#pragma once

#include "writer/job.h"
#include "writer/reply.h"
#include "writer/text_stream.h"

// Screen data: flash-write mode, save start, erase, the pieces of the file, save end. With
// `skipBitmaps` the page erase, and only the page part of the file is sent.
// A file that is no longer `atStart` (when known) fails before the save end.
void sendScreenData(JobContext& job, TextStream& file, bool skipBitmaps,
                    const DataIdentity& atStart = {});

// The register writes of the settings, closed by "UC".
void sendSettings(JobContext& job, const WriteSettings& settings);

// Asks the device for its data sum and tells it.
void queryDataSum(JobContext& job);
