#include "app/startup.h"

#include <cstdio>

#include "app/dialogs.h"
#include "app/templates.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "writer/text_stream.h"

std::string iniPath;
std::string portName;
std::string dataFilePath;
std::string gaijiFilePath;
Channel mainChannel;

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

StartupResult loadConfiguration(const std::string& workDir) {
    if (workDir.empty() || workDir.size() > kMaxWorkDirLength) return StartupResult::TooDeep;
    iniPath = workDir;
    if (!isPathSeparator(iniPath.back())) iniPath += kPathSeparator;
    iniPath += "SCI.INI";
    if (readPortName(iniPath, portName)) return StartupResult::Ready;
    portName = "COM1";
    return writePortName(iniPath, portName) ? StartupResult::Ready : StartupResult::NoIniFile;
}

int zemtabuloMain() {
    switch (loadConfiguration(workingDirectory(kIniPathBufSize))) {
        case StartupResult::TooDeep: {
            // Two texts kept apart: the box shows entry 11 with entry 12 as its caption.
            const std::string text = resString(11);
            const std::string caption = resString(12);
            messageBox(nullptr, text, caption, kMbOk);
            return 0;
        }
        case StartupResult::NoIniFile: return 0;
        case StartupResult::Ready: break;
    }
    dialogBox(kMainTemplate, nullptr, mainDlgProc);
    return 0;
}
