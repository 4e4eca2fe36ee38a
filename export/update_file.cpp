#include "export/update_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/serial.h"
#include "writer/text_stream.h"

namespace {

constexpr const char* kDataOpenFailedText = "書き込みデータを開けませんでした";
constexpr const char* kDataReadFailedText = "書き込みデータを読み込めませんでした";
constexpr const char* kDataNulText = "書き込みデータにNULバイトがあります";
constexpr const char* kNulOffsetLabel = "位置 ";
constexpr const char* kGaijiReadFailedText = "外字データを読み込めませんでした";
constexpr const char* kWriteFailedText = "USBメモリに書き込めませんでした";
constexpr const char* kPathTooLongText = "パスが長すぎます";
constexpr const char* kNoFolderText = "書き出し先のフォルダを取得できませんでした";

constexpr char kCrLf[] = "\r\n";

// The device reads the file, not the operating system: every line end is CR LF.
int writeLine(ReplacementFile& out, const std::string& line) {
    if (int err = out.write(line.data(), line.size())) return err;
    return out.write(kCrLf, 2);
}

// Writes text with every LF as CR LF.
int writeText(ReplacementFile& out, const char* text, size_t n) {
    const char* const end = text + n;
    while (text < end) {
        const auto* lf = static_cast<const char*>(std::memchr(text, '\n', size_t(end - text)));
        if (!lf) return out.write(text, size_t(end - text));
        if (int err = out.write(text, size_t(lf - text))) return err;
        if (int err = out.write(kCrLf, 2)) return err;
        text = lf + 1;
    }
    return 0;
}

// The bar moves when the copy has gone this share of the file further: a bar shows no finer
// steps, and a redraw for every short line would cost more than the copy.
constexpr int kProgressSteps = 1000;

// Copies the data file's text; a read error is the data file's fault, a write error the
// destination's.
ExportFault copyData(TextStream& in, ReplacementFile& out, const std::string& dataPath,
                     const std::string& dest, Window progress) {
    const int shift = progressShift(in.size());
    const uint64_t step = std::max<uint64_t>(1, (in.size() >> shift) / kProgressSteps);
    uint64_t shown = 0;
    std::vector<char> block(kCopyBlockSize);
    size_t n;
    bool lineOpen = false;
    while ((n = in.readText(block.data(), block.size())) > 0) {
        // Checked before the copy began; a file changed since then is refused all the same.
        if (std::memchr(block.data(), 0, n)) return {kDataNulText, dataPath, 0, -1};
        const uint64_t pos = in.rawPosition() >> shift;
        if (pos - shown >= step) progressSetPos(progress, int32_t(shown = pos));
        if (int err = writeText(out, block.data(), n)) return {kWriteFailedText, dest, err};
        lineOpen = block[n - 1] != '\n';
    }
    if (in.error() != 0) return {kDataReadFailedText, dataPath, in.error()};
    // A last line without its line end is ended here: otherwise the first settings line would
    // be glued to it, and the device would read neither.
    if (lineOpen)
        if (int err = out.write(kCrLf, 2)) return {kWriteFailedText, dest, err};
    progressSetPos(progress, int32_t(in.rawPosition() >> shift));
    return {};
}

// A path that does not fit its buffer is refused rather than cut.
bool fits(const std::string& path, size_t bufSize) { return path.size() < bufSize; }

}  // namespace

ExportFault checkInputPaths(const std::string& dataPath, const std::string& gaijiPath) {
    if (!fits(dataPath, kPathBufSize)) return {kPathTooLongText, dataPath, kErrNameTooLong};
    if (!fits(gaijiPath, kPathBufSize)) return {kPathTooLongText, gaijiPath, kErrNameTooLong};
    return {};
}

ExportFault exportDestinations(const std::string& folder, std::string& updateDest,
                               std::string& gaijiDest) {
    if (folder.empty()) return {kNoFolderText, std::string(), 0};
    if (!fits(folder, kFolderBufSize)) return {kPathTooLongText, folder, kErrNameTooLong};
    updateDest = joinFolder(folder, kUpdateFileName);
    gaijiDest = joinFolder(folder, kGaijiFileName);
    if (!fits(updateDest, kDestBufSize)) return {kPathTooLongText, updateDest, kErrNameTooLong};
    if (!fits(gaijiDest, kDestBufSize)) return {kPathTooLongText, gaijiDest, kErrNameTooLong};
    return {};
}

ExportFault copyGaiji(const std::string& gaijiPath, const std::string& dest) {
    const CopyResult r = copyFileReplacing(gaijiPath, dest);
    if (r.err == 0) return {};
    if (r.atSource) return {kGaijiReadFailedText, gaijiPath, r.err};
    return {kWriteFailedText, dest, r.err};
}

std::string joinFolder(const std::string& folder, const char* name) {
    if (!folder.empty() && isPathSeparator(folder.back())) return folder + name;
    return folder + kPathSeparator + name;
}

ExportFault writeUpdateFile(const std::string& dataPath, const std::string& dest,
                            const WriteSettings& settings, Window progress) {
    TextStream in;
    if (int err = in.open(dataPath)) return {kDataOpenFailedText, dataPath, err};
    // The serial write refuses these files before it erases the device; the stick gets none
    // of them either, not even as a temporary file.
    const DataCheck check = checkDataFile(dataPath);
    if (check.err != 0) return {kDataReadFailedText, dataPath, check.err};
    if (check.nulAt >= 0) return {kDataNulText, dataPath, 0, check.nulAt};
    progressSetRange(progress, 0, int32_t(in.size() >> progressShift(in.size())));
    progressSetPos(progress, 0);

    ReplacementFile out;
    if (int err = out.open(dest)) return {kWriteFailedText, dest, err};
    ExportFault fault = copyData(in, out, dataPath, dest, progress);
    if (fault.failed()) return fault;
    for (const std::string& line : updateSettingsLines(settings))
        if (int err = writeLine(out, line)) return {kWriteFailedText, dest, err};
    if (int err = out.commit()) return {kWriteFailedText, dest, err};
    return {};
}

std::string faultText(const ExportFault& fault) {
    std::string text = fault.what ? fault.what : "";
    if (!fault.file.empty()) text += "\n" + fault.file;
    if (fault.err != 0) text += "\n" + systemErrorText(fault.err);
    if (fault.nulAt >= 0) text += "\n" + std::string(kNulOffsetLabel) + offsetText(fault.nulAt);
    return text;
}
