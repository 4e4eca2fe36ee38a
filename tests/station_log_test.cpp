#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "csv_reader.h"
#include "platform/files.h"
#include "platform/hash.h"
#include "platform/serial.h"
#include "station/log.h"
#include "station/station_run.h"
#include "station/unit.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
std::vector<std::string> headerFields() {
    Rows rows;
    EXPECT_TRUE(parseCsv(std::string(kLogHeader) + "\r\n", rows));
    return rows.empty() ? std::vector<std::string>() : rows[0];
}

std::vector<std::string> fieldsOf(const LogRecord& r, const std::string& seconds) {
    return {r.timeUtc,
            r.host,
            r.port,
            r.device,
            r.dataFile,
            r.dataSha256,
            std::to_string(r.dataBytes),
            r.options,
            r.result,
            r.sum,
            r.expectedSum,
            seconds,
            r.step,
            r.reason,
            r.version,
            r.id,
            std::to_string(r.attempt),
            r.unit};
}

LogRecord sampleRecord(const std::string& port) {
    LogRecord r;
    r.timeUtc = "2026-12-07T15:04:05.123Z";
    r.host = "line-3";
    r.port = port;
    r.device = "/dev/ttyUSB0 (/dev/serial/by-id/usb-X)";
    r.dataFile = "data.v3";
    r.dataSha256 = "ab";
    r.dataBytes = 1234;
    r.options = "--speed 9600";
    r.result = "ok";
    r.seconds = 1.5;
    r.version = "1.5.0";
    r.id = "0f8fad5b-d9cb-469f-a165-70867728950e";
    return r;
}

int appendTo(const std::string& path, const LogRecord& r) {
    LogFile log;
    if (int err = log.open(path)) return err;
    return log.append(r);
}

LogTable readLog(const TempDir& dir, const std::string& name) {
    LogTable log;
    EXPECT_TRUE(log.parse(dir.read(name))) << dir.read(name);
    return log;
}

TEST(StationLog, FieldsNeedingQuotesReadBackExactly) {
    TempDir dir;
    LogRecord r = sampleRecord("COM3, left");
    r.dataFile = "C:\\data\\\"new\" set.v3";
    r.options = "--vertical --latin";
    r.step = "書き込み中";
    r.reason = "line one\r\nline two\rthree\nfour,\"five\"";
    r.sum = "\"";
    r.seconds = 12.3456;
    ASSERT_EQ(appendTo(dir.file("log.csv"), r), 0);

    const LogTable log = readLog(dir, "log.csv");
    EXPECT_EQ(log.header, headerFields());
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0], fieldsOf(r, "12.346"));
    // Fields that need no quotes get none.
    EXPECT_EQ(csvField("書き込み中"), "書き込み中");
    EXPECT_EQ(
        logLine(sampleRecord("P1")),
        "2026-12-07T15:04:05.123Z,line-3,P1,/dev/ttyUSB0 (/dev/serial/by-id/usb-X),data.v3,"
        "ab,1234,'--speed 9600,ok,,,1.500,,,1.5.0,0f8fad5b-d9cb-469f-a165-70867728950e,1,\r\n");
}

// A spreadsheet runs a field that begins like a formula: such fields are written as text and
// read back as they were by a reader that removes the one guarding apostrophe.
TEST(StationLog, FormulaLookingFieldsAreTextAndReadBack) {
    const std::vector<std::string> guarded = {"=HYPERLINK(A1)", "+COM3",  "-1+2",   "@SUM(A1:A9)",
                                              "\tdata.v3",      "\rCOM1", "'quoted"};
    const std::vector<std::string> plain = {"COM3=left", ""};
    for (bool guard : {true, false})
        for (const std::string& text : guard ? guarded : plain) {
            TempDir dir;
            LogRecord r = sampleRecord(text);
            r.dataFile = r.reason = r.options = text;
            ASSERT_EQ(appendTo(dir.file("log.csv"), r), 0);
            Rows raw;
            ASSERT_TRUE(parseCsv(dir.read("log.csv"), raw));
            EXPECT_EQ(raw.at(1).at(2), (guard ? "'" : "") + text) << text;
            const LogTable log = readLog(dir, "log.csv");
            for (const char* column : {"port", "data_file", "options", "reason"})
                EXPECT_EQ(log.at(0, column), text) << column << " " << text;
        }
}

// The header already in the file decides the columns: a new file gets the BOM and ours; an
// older one of ours keeps its own, fewer; a newer one gets ours and empty fields for its
// own; a header not ours is refused and the file left as it was.
TEST(StationLog, TheFilesHeaderDecidesTheColumns) {
    const std::string bom = kUtf8Bom, older = logHeaderOf(15);
    const struct {
        std::string before;
        int openError;
        std::string header;  // as the file has it after the append
        size_t fields;
        std::string leftOut;
    } cases[] = {
        {"", 0, bom + kLogHeader, kLogColumns, ""},
        {bom, 0, bom + kLogHeader, kLogColumns, ""},
        {kLogHeader + "\r\n", 0, kLogHeader, kLogColumns, ""},
        {bom + older + "\r\n", 0, bom + older, 15, "id, attempt, unit"},
        {older, 0, older, 15, "id, attempt, unit"},  // its line end torn off
        {logHeaderOf(16) + "\r\n", 0, logHeaderOf(16), 16, "attempt, unit"},
        {logHeaderOf(17) + "\r\n", 0, logHeaderOf(17), 17, "unit"},
        {kLogHeader + ",lot,later\r\n", 0, kLogHeader + ",lot,later", kLogColumns + 2, ""},
        {"when,what\r\n1,2\r\n", kErrInvalidData, "when,what", 2, ""},
        {older.substr(0, 40) + "\r\n1\r\n", kErrInvalidData, older.substr(0, 40), 1, ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        dir.write("log.csv", c.before);
        LogFile log;
        ASSERT_EQ(log.open(dir.file("log.csv")), c.openError) << c.before;
        if (c.openError == 0) {
            EXPECT_EQ(log.columnsLeftOut(), c.leftOut) << c.before;
            ASSERT_EQ(log.append(sampleRecord("P9")), 0) << c.before;
        }
        const std::string text = dir.read("log.csv");
        EXPECT_EQ(text.rfind(c.header + "\r\n", 0), 0u) << text;
        const LogTable table = readLog(dir, "log.csv");
        ASSERT_EQ(table.records.size(), 1u) << text;
        EXPECT_EQ(table.records[0].size(), c.fields) << text;
        if (c.openError == 0) {
            EXPECT_EQ(table.at(0, "port"), "P9") << text;
        } else {
            EXPECT_EQ(text, c.before);
            EXPECT_NE(log.errorText(c.openError).find("not the header"), std::string::npos);
        }
    }
}

TEST(StationLog, HeaderOnlyWhenTheFileIsNewOrEmpty) {
    for (bool exists : {false, true}) {
        TempDir dir;
        if (exists) dir.write("log.csv", "");
        ASSERT_EQ(appendTo(dir.file("log.csv"), sampleRecord("P1")), 0);
        ASSERT_EQ(appendTo(dir.file("log.csv"), sampleRecord("P2")), 0);
        const std::string text = dir.read("log.csv");
        EXPECT_EQ(text.find(kUtf8Bom, 1), std::string::npos) << text;
        const LogTable log = readLog(dir, "log.csv");
        ASSERT_EQ(log.records.size(), 2u) << exists;
        EXPECT_EQ(log.header, headerFields());
        EXPECT_EQ(log.at(0, "port"), "P1");
        EXPECT_EQ(log.at(1, "port"), "P2");
    }
}

// A crash mid-write leaves a last line without its end; the next record must still stand on
// a line of its own, and must not be swallowed by a quoted field left open.
TEST(StationLog, TornLastLineIsEndedBeforeTheNextRecord) {
    const std::string whole = std::string(kLogHeader) + "\r\n" + logLine(sampleRecord("P1"));
    const struct {
        std::string torn;
        size_t fieldsOfTorn;
    } cases[] = {
        {"2026-12-07T15:04:05.123Z,line-3,P2", 3},
        {"2026-12-07T15:04:05.123Z,line-3,P2\r", 3},
        {"2026-12-07T15:04:05.123Z,line-3,\"P2, \"\"a\"\"\r\nb", 3},
    };
    for (const auto& c : cases) {
        TempDir dir;
        dir.write("log.csv", whole + c.torn);
        ASSERT_EQ(appendTo(dir.file("log.csv"), sampleRecord("P3")), 0);
        const LogTable log = readLog(dir, "log.csv");
        ASSERT_EQ(log.records.size(), 3u) << c.torn;
        EXPECT_EQ(log.records[1].size(), c.fieldsOfTorn) << c.torn;
        EXPECT_EQ(log.records[2], fieldsOf(sampleRecord("P3"), "1.500")) << c.torn;
    }
}

constexpr int kPrograms = 2, kWriters = 8, kRecordsEach = 2;

// Appends the k-th record of writer w of program p; 0 or the error code.
using AppendOne = std::function<int(LogFile& log, int p, int w, int k)>;

// Starts kPrograms processes of kWriters threads, each with a log of its own on `path`; all
// append at the moment every one of them has opened the file. False when any of them failed.
bool appendAllAtOnce(const std::string& path, const AppendOne& appendOne) {
    int ready[2], start[2];
    if (pipe(ready) != 0 || pipe(start) != 0) return false;
    std::vector<pid_t> children;
    for (int p = 0; p < kPrograms; ++p) {
        const pid_t pid = fork();
        if (pid != 0) {
            children.push_back(pid);
            continue;
        }
        close(start[1]);
        std::atomic<int> failures{0};
        std::vector<std::thread> writers;
        for (int w = 0; w < kWriters; ++w)
            writers.emplace_back([&, w] {
                LogFile log;
                char go = 0;
                if (log.open(path) != 0 || write(ready[1], &go, 1) != 1) ++failures;
                if (read(start[0], &go, 1) != 0) ++failures;  // returns when the parent closes
                for (int k = 0; k < kRecordsEach; ++k)
                    if (appendOne(log, p, w, k) != 0) ++failures;
            });
        for (auto& t : writers) t.join();
        _exit(failures == 0 ? 0 : 1);
    }
    char byte;
    for (int n = 0; n < kPrograms * kWriters && read(ready[0], &byte, 1) == 1; ++n) {
    }
    for (int fd : {ready[0], ready[1], start[0], start[1]}) close(fd);
    bool ok = true;
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return ok;
}

// Two programs with 8 writers each start on one new file at the same moment. Each record has
// an id of its own, though the programs were forked from one.
TEST(StationLog, ConcurrentProgramsWriteOneHeaderAndWholeRecords) {
    TempDir dir;
    ASSERT_TRUE(appendAllAtOnce(dir.file("log.csv"), [](LogFile& log, int p, int w, int k) {
        LogRecord r = sampleRecord(std::to_string(p) + "/" + std::to_string(w));
        r.reason = "record " + std::to_string(k) + ",\r\n\"" + std::string(300, 'x');
        r.id = newRecordId();
        return log.append(r);
    }));
    const LogTable log = readLog(dir, "log.csv");
    const size_t records = size_t(kPrograms * kWriters * kRecordsEach);
    ASSERT_EQ(log.records.size(), records);
    EXPECT_EQ(log.header, headerFields());
    const std::regex uuid4("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen, ids;
    for (size_t i = 0; i < records; ++i) {
        ASSERT_EQ(log.records[i].size(), headerFields().size());
        const std::string reason = log.at(i, "reason");
        seen.insert(log.at(i, "port") + " " + reason.substr(0, reason.find(',')));
        ids.insert(log.at(i, "id"));
        EXPECT_TRUE(std::regex_match(log.at(i, "id"), uuid4)) << log.at(i, "id");
    }
    EXPECT_EQ(seen.size(), records);
    EXPECT_EQ(ids.size(), records);
}

// A slot's parent and its child may both write the device's first record, under one id: of all
// the programs and threads that try at once, exactly one writes it.
TEST(StationLog, AppendOnceWritesAnIdOnceWhoeverTries) {
    TempDir dir;
    ASSERT_TRUE(appendAllAtOnce(dir.file("log.csv"), [](LogFile& log, int p, int w, int k) {
        LogRecord r = sampleRecord(std::to_string(p) + "/" + std::to_string(w));
        r.id = "slot-" + std::to_string(k);
        return log.appendOnce(r);
    }));
    const LogTable log = readLog(dir, "log.csv");
    ASSERT_EQ(log.records.size(), size_t(kRecordsEach));
    EXPECT_EQ(log.at(0, "id"), "slot-0");
    EXPECT_EQ(log.at(1, "id"), "slot-1");
}

// The id is found in its own column only, as readers take it: not in another field that names
// it, not as a longer id's beginning, and through the guard and the quotes of the fields before
// it; records another program appends after the last look are found too.
TEST(StationLog, AppendOnceFindsTheIdByItsColumn) {
    TempDir dir;
    const std::string path = dir.file("log.csv");
    LogFile mine, other;
    ASSERT_EQ(mine.open(path), 0);
    ASSERT_EQ(other.open(path), 0);
    LogRecord first = sampleRecord("P1");
    first.id = "-1a2b";  // guarded: written as '-1a2b
    first.reason = "a reason, with \"quotes\"\r\nover two lines (corrects record 9f9f)";
    ASSERT_EQ(other.append(first), 0);
    EXPECT_TRUE(mine.hasRecord("-1a2b"));
    for (const char* absent : {"9f9f", "-1a2", "'-1a2b", "1a2b"})
        EXPECT_FALSE(mine.hasRecord(absent)) << absent;

    bool written = true;
    ASSERT_EQ(mine.appendOnce(first, &written), 0);
    EXPECT_FALSE(written);
    LogRecord second = sampleRecord("P2");
    second.id = "9f9f";
    ASSERT_EQ(other.appendOnce(second, &written), 0);
    EXPECT_TRUE(written);
    EXPECT_TRUE(mine.hasRecord("9f9f"));
    ASSERT_EQ(mine.appendOnce(second), 0);
    const LogTable log = readLog(dir, "log.csv");
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.at(0, "id"), "-1a2b");
    EXPECT_EQ(log.at(1, "id"), "9f9f");
}

// A log begun before records had ids cannot tell two records apart: the record is appended
// each time, and no record is ever found there.
TEST(StationLog, AppendOnceToALogWithoutIdsAppends) {
    TempDir dir;
    const std::string path = dir.write("old.csv", logHeaderOf(15) + "\r\n");
    LogFile log;
    ASSERT_EQ(log.open(path), 0);
    EXPECT_FALSE(log.knowsIds());
    ASSERT_EQ(log.appendOnce(sampleRecord("P1")), 0);
    ASSERT_EQ(log.appendOnce(sampleRecord("P1")), 0);
    EXPECT_FALSE(log.hasRecord(sampleRecord("P1").id));
    EXPECT_EQ(readLog(dir, "old.csv").records.size(), 2u);
}

// The race above is narrow; here the window between looking at the file and writing to it is
// held open, so that an append that is not exclusive shows every time. Two processes, each
// with two threads sharing one AppendFile, append the size they saw.
TEST(StationPlatform, AppendsSeeTheFileAsTheOthersLeftIt) {
    TempDir dir;
    const std::string path = dir.file("sizes");
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
        const pid_t pid = fork();
        if (pid != 0) {
            children.push_back(pid);
            continue;
        }
        close(start[1]);
        AppendFile file;
        char go;
        if (file.open(path) != 0 || read(start[0], &go, 1) != 0) _exit(1);
        std::atomic<int> failures{0};
        auto appendSize = [&] {
            failures += file.append([](uint64_t size, int) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                return std::to_string(size) + "\n";
            }) != 0;
        };
        std::thread other(appendSize);
        appendSize();
        other.join();
        _exit(failures == 0 ? 0 : 1);
    }
    close(start[0]);
    close(start[1]);
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(dir.read("sizes"), "0\n2\n4\n6\n");
}

TEST(StationLog, UnopenableLogIsReported) {
    TempDir dir;
    for (const std::string& path : {dir.file("missing/log.csv"), dir.path.string()}) {
        LogFile log;
        EXPECT_NE(log.open(path), 0) << path;
        EXPECT_FALSE(log.isOpen());
        EXPECT_NE(log.append(sampleRecord("P1")), 0) << path;
    }
}

// A record that cannot be written whole (the file size limit cuts it) is reported and leaves
// the file as it was, so the next record follows the last whole one.
TEST(StationLog, FailedAppendLeavesNoPartOfTheRecord) {
    TempDir dir;
    const std::string path = dir.file("log.csv");
    ASSERT_EQ(appendTo(path, sampleRecord("P1")), 0);
    const std::string before = dir.read("log.csv");
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = before.size() + 10;
        rlimit lim{limit, limit};
        setrlimit(RLIMIT_FSIZE, &lim);
        _exit(appendTo(path, sampleRecord("P2")) == EFBIG ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(dir.read("log.csv"), before);
}

TEST(StationLog, UtcTimestampFormat) {
    using namespace std::chrono;
    const struct {
        sys_days day;
        system_clock::duration time;
        const char* text;
    } cases[] = {
        {sys_days(2026y / 12 / 7), 15h + 4min + 5s + 123ms, "2026-12-07T15:04:05.123Z"},
        {sys_days(1970y / 1 / 1), 0s, "1970-01-01T00:00:00.000Z"},
        {sys_days(2028y / 2 / 29), 23h + 59min + 59s + 999ms + 900us, "2028-02-29T23:59:59.999Z"},
    };
    for (const auto& c : cases) EXPECT_EQ(utcTimestamp(c.day + c.time), c.text);
}

TEST(StationPlatform, Sha256OfFiles) {
    TempDir dir;
    const struct {
        std::string name, bytes, hex;
    } cases[] = {
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        // More than one read block: a million 'a'.
        {"big", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        std::string hex;
        uint64_t bytes = 99;
        ASSERT_EQ(sha256File(dir.write(c.name, c.bytes), hex, bytes), 0) << c.name;
        EXPECT_EQ(hex, c.hex) << c.name;
        EXPECT_EQ(bytes, c.bytes.size()) << c.name;
    }
    std::string hex;
    uint64_t bytes = 0;
    EXPECT_EQ(sha256File(dir.file("missing"), hex, bytes), ENOENT);
    EXPECT_EQ(sha256File(dir.path.string(), hex, bytes), EISDIR);
}

TEST(StationPlatform, SerialDeviceIdentityNamesTheStableLink) {
    TempDir dir;
    fs::create_directories(dir.path / "dev");
    fs::create_directories(dir.path / "serial/by-id");
    fs::create_directories(dir.path / "serial/by-path");
    const std::string dev = fs::canonical(dir.path / "dev").string();
    for (const char* tty : {"ttyUSB0", "ttyUSB1", "ttyS0"})
        dir.write(std::string("dev/") + tty, "");
    const std::string byId = dir.file("serial/by-id"), byPath = dir.file("serial/by-path");
    fs::create_symlink("../../dev/ttyUSB0", byId + "/usb-B");
    fs::create_symlink("../../dev/ttyUSB0", byId + "/usb-A");
    fs::create_symlink("../../dev/ttyUSB0", byPath + "/pci-0");
    fs::create_symlink("../../dev/ttyUSB1", byPath + "/pci-1");
    fs::create_symlink(dev + "/ttyUSB0", dir.file("dev/alias"));

    const std::string root = dir.file("serial");
    const struct {
        std::string given, identity;
    } cases[] = {
        {dev + "/ttyUSB0", dev + "/ttyUSB0 (" + byId + "/usb-A)"},
        {dir.file("dev/alias"), dev + "/ttyUSB0 (" + byId + "/usb-A)"},
        {byId + "/usb-B", dev + "/ttyUSB0 (" + byId + "/usb-A)"},
        {dev + "/ttyUSB1", dev + "/ttyUSB1 (" + byPath + "/pci-1)"},
        {dev + "/ttyS0", dev + "/ttyS0"},
        {dev + "/ttyACM9", dev + "/ttyACM9"},
    };
    for (const auto& c : cases) EXPECT_EQ(serialDeviceIdentity(c.given, root), c.identity);
}

}  // namespace

// The units recorded ok, from a log of 100,000 records read once: a unit whose ok record a
// later one corrects is no longer ok, one only failed never was, and records written after the
// read count through the log's own appends.
TEST(StationUnits, ALogOfAHundredThousandRecordsIsReadOnceAndKeptUpToDate) {
    TempDir dir;
    std::string text = std::string(kUtf8Bom) + kLogHeader + "\r\n";
    constexpr int kRecords = 100000;
    LogRecord r = sampleRecord("COM1");
    for (int i = 0; i < kRecords; ++i) {
        // Now and then quotes and a line end inside a field.
        r.reason = i % 1000 == 0 ? "a, \"quoted\"\r\nreason" : "";
        r.unit = "SN" + std::to_string(i);
        r.id = "id-" + std::to_string(i);
        r.result = i % 10 == 9 ? "failed" : "ok";
        text += logLine(r);
    }
    LogRecord correcting = r;
    correcting.unit = "SN5";
    correcting.id = "id-corr";
    correcting.result = "sum-mismatch";
    correcting.reason = "sum 1111 differs" + correctsText("id-5");
    text += logLine(correcting);
    r.unit = "'=SN";  // guarded when written, taken back as typed
    r.id = "id-guarded";
    r.result = "ok";
    text += logLine(r);
    const std::string path = dir.write("log.csv", text);

    UnitLedger units;
    ASSERT_EQ(units.read(path), 0);
    EXPECT_TRUE(units.recordedOk("SN0"));
    EXPECT_TRUE(units.recordedOk("SN99998"));
    EXPECT_FALSE(units.recordedOk("SN99999")) << "failed only";
    EXPECT_FALSE(units.recordedOk("SN5")) << "its ok was corrected";
    EXPECT_TRUE(units.recordedOk("'=SN"));

    LogFile log;
    ASSERT_EQ(log.open(path), 0);
    log.onRecord([&units](const LogRecord& w) { units.note(w); });
    r.unit = "SN-new";
    r.id = newRecordId();
    ASSERT_EQ(log.append(r), 0);
    EXPECT_TRUE(units.recordedOk("SN-new"));

    // Another program's records on the same log are taken at the next look, its own are not
    // counted twice (the correction below would not undo them), and half a line waits.
    const std::string ownId = r.id;
    LogRecord other = r;
    other.unit = "SN-other";
    other.id = "id-other";
    const std::string otherLine = logLine(other);
    const auto appendBytes = [&path](const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
    };
    appendBytes(otherLine.substr(0, 40));
    ASSERT_EQ(units.catchUp(), 0);
    EXPECT_FALSE(units.recordedOk("SN-other")) << "half written";
    other.id = "id-corr-own";
    other.unit = "SN-new";
    other.result = "sum-mismatch";
    other.reason = "sum 1111 differs" + correctsText(ownId);
    appendBytes(otherLine.substr(40) + logLine(other));
    ASSERT_EQ(units.catchUp(), 0);
    EXPECT_TRUE(units.recordedOk("SN-other"));
    EXPECT_FALSE(units.recordedOk("SN-new")) << "its ok was corrected";
    // A log put in the place of the one read is read from its start.
    dir.write("log.csv", std::string(kUtf8Bom) + kLogHeader + "\r\n" + otherLine);
    ASSERT_EQ(units.catchUp(), 0);
    EXPECT_FALSE(units.recordedOk("SN0"));
    EXPECT_TRUE(units.recordedOk("SN-other"));

    // An older log has no unit column: nothing is ok there, and the writer says it keeps none.
    const std::string older = dir.write("old.csv", logHeaderOf(17) + "\r\n");
    EXPECT_EQ(units.read(older), 0);
    EXPECT_FALSE(units.recordedOk("SN0"));
    LogFile old;
    ASSERT_EQ(old.open(older), 0);
    EXPECT_FALSE(old.keepsColumn("unit"));
    EXPECT_EQ(old.columnsLeftOut(), "unit");
}

TEST(StationUnits, ChecksTakeThePatternWholeAndRefuseWhatNoLabelHolds) {
    UnitPattern any, serial, bad;
    EXPECT_EQ(compileUnitPattern("", any), "");
    EXPECT_EQ(compileUnitPattern("SN-[0-9]{4}", serial), "");
    EXPECT_NE(compileUnitPattern("SN-[0-9", bad), "");
    EXPECT_EQ(checkUnit("", false, serial, false), UnitVerdict::Ok);
    EXPECT_EQ(checkUnit("", true, any, false), UnitVerdict::Missing);
    EXPECT_EQ(checkUnit("SN 1", false, any, false), UnitVerdict::Unusable);
    EXPECT_EQ(checkUnit("ＳＮ１", false, any, false), UnitVerdict::Unusable) << "wide characters";
    EXPECT_EQ(checkUnit(std::string(kMaxUnitIdSize + 1, 'A'), false, any, false),
              UnitVerdict::Unusable);
    EXPECT_EQ(checkUnit("SN-12345", false, serial, false), UnitVerdict::NoMatch) << "whole match";
    EXPECT_EQ(checkUnit("xSN-1234", false, serial, false), UnitVerdict::NoMatch);
    EXPECT_EQ(checkUnit("SN-1234", false, serial, false), UnitVerdict::Ok);
    EXPECT_EQ(checkUnit("SN-1234", true, serial, true), UnitVerdict::RecordedOk);
    EXPECT_EQ(reworkReason(""), "rework");
    EXPECT_EQ(reworkReason("sum 1, expected 2"), "rework; sum 1, expected 2");
}
