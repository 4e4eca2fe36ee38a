// The update file export: the V3 data file and the settings lines as v3update.dat in a folder
// the operator picks, with the external character file copied beside it as v3gaiji.dat.
#pragma once

#include <string>

// Command 1061 of the main dialog.
void exportCommand(const std::string& dataPath, const std::string& gaijiPath);
