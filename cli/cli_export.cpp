// Placeholder until the export lands.
#include "cli/cli.h"

int cliExport(const CliOptions&) { return kExitFailed; }
