// Placeholder until the export lands.
#include "export/update_file.h"

void exportCommand(const std::string&, const std::string&) {}
