// The scan log on disk: written beside its place and renamed into it, so
// that a failed write (a full disk, a folder that cannot be written) leaves
// an existing log as it was; read back from files.
#include "results/scan_log_reader.h"
#include "results/scan_log_writer.h"
#include "scan_log_samples.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace torvane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace test::samples;

Bytes FileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::vector<std::string> Names(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes InMemory(const ScanLogDocument& doc)
{
    Bytes out;
    EXPECT_TRUE(WriteScanLog(doc, out).ok());
    return out;
}

TEST(ScanLogFile, WrittenWholeAndRenamedIntoPlace)
{
    test::TempDir dir;
    const fs::path log = dir.path() / "scan.VQL";
    ASSERT_TRUE(WriteScanLogFile(DeepNtfs(), log).ok());
    EXPECT_EQ(FileBytes(log), InMemory(DeepNtfs()));
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"scan.VQL"});

    // An existing log is replaced.
    ASSERT_TRUE(WriteScanLogFile(OnlyRoot(), log).ok());
    EXPECT_EQ(FileBytes(log), InMemory(OnlyRoot()));
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"scan.VQL"});

    const ScanLogReadResult r = ReadScanLogFile(log, ScanLogReaderKind::Basic);
    ASSERT_TRUE(r.loaded());
    EXPECT_TRUE(r.document == OnlyRoot());
}

// A disk that fills up while the log is written: the write fails, the old log
// stays and the partial new file is gone. The file-size limit stands in for
// the full disk.
TEST(ScanLogFile, FullDiskLeavesTheOldLog)
{
    test::TempDir dir;
    const fs::path log = dir.path() / "scan.VQL";
    PutFile(log, "the good log of yesterday");

    ScanLogDocument big = LongNames();
    for (int i = 0; i < 200; ++i) big.tree.push_back(Folder(1, std::string(200, 'x'), 3, 0, 0, 0, 0, 0, 0));

    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const ScanLogWriteResult r = WriteScanLogFile(big, log);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(r.error, EFBIG);
    EXPECT_NE(r.message.find("scan.VQL"), std::string::npos) << r.message;
    const Bytes good = FileBytes(log);
    EXPECT_EQ(std::string(good.begin(), good.end()), "the good log of yesterday");
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"scan.VQL"});
}

// A folder the user may not write to. As root every folder is writable, so
// the attempt runs in a child that has given up root.
TEST(ScanLogFile, ReadOnlyFolderLeavesTheOldLog)
{
    test::TempDir dir;
    const fs::path folder = dir.path() / "locked";
    fs::create_directory(folder);
    const fs::path log = folder / "scan.VQL";
    PutFile(log, "the good log of yesterday");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(folder.c_str(), 0555);
    ::chmod(log.c_str(), 0666);

    int error = 0;
    if (::geteuid() != 0) {
        error = WriteScanLogFile(BasicFat32(), log).error;
    } else {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
            ::_exit(WriteScanLogFile(BasicFat32(), log).error & 0x7F);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 100) << "could not give up root";
        error = WEXITSTATUS(status);
    }
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(error, EACCES);
    const Bytes good = FileBytes(log);
    EXPECT_EQ(std::string(good.begin(), good.end()), "the good log of yesterday");
    EXPECT_EQ(Names(folder), std::vector<std::string>{"scan.VQL"});
}

TEST(ScanLogFile, PlacesThatCannotTakeALog)
{
    test::TempDir dir;
    // A folder in the log's place: the rename fails, the folder stays, no
    // temporary file is left.
    const fs::path taken = dir.path() / "taken.VQL";
    fs::create_directory(taken);
    PutFile(taken / "inside", "x");
    ScanLogWriteResult r = WriteScanLogFile(BasicFat32(), taken);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(fs::is_directory(taken));
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"taken.VQL"});

    r = WriteScanLogFile(BasicFat32(), dir.path() / "missing" / "scan.VQL");
    EXPECT_EQ(r.error, ENOENT);

    // A document that cannot be written creates nothing.
    ScanLogDocument bad = BasicFat32();
    bad.header.mode = 7;
    r = WriteScanLogFile(bad, dir.path() / "bad.VQL");
    EXPECT_EQ(r.error, EINVAL);
    EXPECT_FALSE(fs::exists(dir.path() / "bad.VQL"));
}

TEST(ScanLogFile, ReadFromFilesAsFromMemory)
{
    for (const auto& entry : fs::directory_iterator(SCAN_LOG_DATA_DIR)) {
        if (entry.path().extension() != ".VQL") continue;
        const Bytes bytes = FileBytes(entry.path());
        for (ScanLogReaderKind kind : {ScanLogReaderKind::Basic, ScanLogReaderKind::Deep}) {
            const ScanLogReadResult fromFile = ReadScanLogFile(entry.path(), kind);
            const ScanLogReadResult fromMemory = ReadScanLog(bytes, kind);
            EXPECT_EQ(fromFile.status, fromMemory.status) << entry.path();
            EXPECT_TRUE(fromFile.document == fromMemory.document) << entry.path();
            EXPECT_EQ(fromFile.trailer, fromMemory.trailer) << entry.path();
        }
        EXPECT_EQ(PeekScanLogHeaderFile(entry.path()).status, PeekScanLogHeader(bytes).status) << entry.path();
    }

    test::TempDir dir;
    ScanLogReadResult r = ReadScanLogFile(dir.path() / "none.VQL", ScanLogReaderKind::Basic);
    EXPECT_EQ(r.status, ScanLogReadStatus::OpenFailed);
    EXPECT_EQ(r.error, ENOENT);
    EXPECT_FALSE(r.detail.empty());
    r = ReadScanLogFile(dir.path(), ScanLogReaderKind::Basic);
    EXPECT_EQ(r.status, ScanLogReadStatus::OpenFailed);
    EXPECT_EQ(PeekScanLogHeaderFile(dir.path() / "none.VQL").status, ScanLogReadStatus::OpenFailed);
}

}  // namespace
}  // namespace torvane
