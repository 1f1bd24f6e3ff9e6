// Golden bytes: the log written for a Basic scan of a small fixture volume
// equals, byte for byte, the expected file committed beside this test.
//
// What a log holds besides the scan's results is fixed here: the clock (the
// miscellaneous folder's time and the day a zero exFAT date shows are the
// time of the scan), the time zone, and the device registry, which lists the
// fixture image alone (the disk number and identity are written).
//
// After a deliberate change of what logs hold, the expected files are made
// again by running this test with TORVANE_WRITE_GOLDEN_LOGS=1; check the new
// bytes (tests/fsrecovery/data/scan_logs/README.md says how) before
// committing them.
#include "fsrecovery/search_session.h"

#include "fsrecovery/scan_log_test_support.h"
#include "fsrecovery/store/name_rules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace torvane {
namespace {

namespace fs = std::filesystem;
using test::LoggedFixture;

// 2024-07-15 09:30:00 UTC.
constexpr std::time_t kScanClock = 1721035800;

std::vector<std::uint8_t> FileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class PinnedClock {
public:
    PinnedClock()
    {
        if (const char* tz = std::getenv("TZ"))
            saved_ = tz;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        SetScanClockForTesting(kScanClock);
    }
    ~PinnedClock()
    {
        SetScanClockForTesting(0);
        if (saved_.empty())
            ::unsetenv("TZ");
        else
            ::setenv("TZ", saved_.c_str(), 1);
        ::tzset();
    }

private:
    std::string saved_;
};

class ScanLogGolden : public ::testing::TestWithParam<LoggedFixture> {};

TEST_P(ScanLogGolden, TheLogOfAFixtureScanIsTheExpectedFile)
{
    PinnedClock clock;
    test::ScopedTestRegistry registry;
    const int disk = test::AddFixtureDisk(GetParam().image);
    if (disk < 0)
        GTEST_SKIP() << "fixture not unpacked";
    ASSERT_EQ(disk, 0);
    std::optional<CurrentPartition> partition = test::FixtureDiskPartition(GetParam(), disk);
    ASSERT_TRUE(partition);

    SearchSession session(1);
    ASSERT_TRUE(session.RunScanHere(*partition));
    test::TempDir dir;
    ScanLogSaveRequest save;
    save.path = dir.path() / "scan.VQL";
    save.source = test::FixtureFacts(session.Partition(), std::string(GetParam().image) + " ( fixture )");
    ASSERT_TRUE(session.RunSaveLogHere(save)) << session.SaveLogJob()->Result().message;

    const fs::path expected =
        fs::path(SCAN_LOG_GOLDEN_DIR) / (std::string(GetParam().image).substr(0, std::string(GetParam().image).find('.')) +
                                          "-basic.VQL");
    const std::vector<std::uint8_t> written = FileBytes(save.path);
    if (std::getenv("TORVANE_WRITE_GOLDEN_LOGS")) {
        fs::copy_file(save.path, expected, fs::copy_options::overwrite_existing);
        GTEST_SKIP() << "wrote " << expected;
    }
    ASSERT_TRUE(fs::exists(expected)) << expected;
    const std::vector<std::uint8_t> golden = FileBytes(expected);
    ASSERT_EQ(written.size(), golden.size());
    std::size_t first = 0;
    while (first < written.size() && written[first] == golden[first])
        ++first;
    EXPECT_EQ(first, written.size()) << "the bytes differ from offset " << first;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ScanLogGolden,
                         ::testing::Values(LoggedFixture{"fat16.img", 0, "FAT16"},
                                           LoggedFixture{"exfat.img", 0, "exFAT"},
                                           LoggedFixture{"ntfs.img", 0, "NTFS"}),
                         [](const auto& info) { return test::FixtureName(info.param); });

}  // namespace
}  // namespace torvane
