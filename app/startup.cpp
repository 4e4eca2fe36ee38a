#include "app/startup.h"

#include <cstdio>

#include "app/dialogs.h"
#include "app/templates.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "writer/text_stream.h"

bool readPortName(const std::string& path, std::string& name) {
    TextStream file;
    if (file.open(path) != 0) return false;
    char line[kIniLineRead + 1];
    file.readPiece(line, sizeof line);
    std::string text(line);
    size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
    if (text.size() > kPortNameMax) text.resize(kPortNameMax);
    name = text;
    return true;
}

bool writePortName(const std::string& path, const std::string& name) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fprintf(f, "%s\r\n", name.c_str()) >= 0;
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

StartupResult loadConfiguration(const std::string& workDir, PortConfig& out) {
    if (workDir.empty() || workDir.size() > kMaxWorkDirLength) return StartupResult::TooDeep;
    out.iniPath = workDir;
    if (!isPathSeparator(out.iniPath.back())) out.iniPath += kPathSeparator;
    out.iniPath += "SCI.INI";
    if (readPortName(out.iniPath, out.portName)) return StartupResult::Ready;
    out.portName = "COM1";
    return writePortName(out.iniPath, out.portName) ? StartupResult::Ready
                                                    : StartupResult::NoIniFile;
}

int zemtabuloMain(Desktop& desktop) {
    PortConfig config;
    switch (loadConfiguration(workingDirectory(kIniPathBufSize), config)) {
        case StartupResult::TooDeep:
            messageBox(nullptr, resString(kStrWorkDirTooDeep), resString(kStrAppName), kMbOk);
            return 0;
        case StartupResult::NoIniFile:
            return 0;
        case StartupResult::Ready:
            break;
    }
    desktop.iniPath = config.iniPath;
    desktop.portName = config.portName;
    dialogBox(kMainTemplate, nullptr, mainDlgProc, &desktop);
    desktop.dlg = nullptr;
    return 0;
}
