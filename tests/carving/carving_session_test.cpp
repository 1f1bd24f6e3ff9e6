// The carving dialogs' session without a window: the thumbnail placement and
// the arrival order of the result views, the checks of the wizard's steps on
// the sample disk (range texts, root items, devices, a logical drive read
// through its disk, the summary), the signature search's check-list and the
// destination checks, then both searches run on the sample disk, whose
// planted pictures and PDF must come out and whose per-type counts must match
// the files written.
#include "carving/carving_session.h"

#include "../e2e/sha256.h"
#include "base/program_state.h"
#include "base/text_encoding.h"
#include "carving/carved_names.h"
#include "carving/thumbnail_layout.h"
#include "disk/drive_refresh.h"
#include "disk/logical_drives.h"
#include "platform/device_registry.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#ifndef TORVANE_RES_DIR
#define TORVANE_RES_DIR "res"
#endif

namespace torvane {
namespace {

namespace fs = std::filesystem;

// ---- rules of the result views ---------------------------------------------------------

TEST(ThumbnailPlacement, ScalesToFitAndCentres)
{
    const struct {
        std::int64_t w, h;
        bool placeholder;
        int x, y, width, height;
    } cases[] = {
        {220, 80, false, 0, 20, 110, 40},   // fills the width, centred vertically
        {80, 80, false, 15, 0, 80, 80},     // fills the height, centred horizontally
        {40, 40, false, 15, 0, 80, 80},     // a small picture is enlarged
        {110, 80, false, 0, 0, 110, 80},    // exactly the thumbnail
        {4000, 3000, false, 1, 0, 106, 80}, // a camera picture
        {100000, 1, false, 0, 39, 110, 1},  // a sliver stays one pixel high
        {0, 0, true, 0, 0, 0, 0},           // no size: the placeholder
        {0, 50, true, 0, 0, 0, 0},
        {50, -1, true, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const ThumbnailPlacement p = PlaceThumbnail(c.w, c.h);
        EXPECT_EQ(p.placeholder, c.placeholder) << c.w << "x" << c.h;
        if (c.placeholder)
            continue;
        EXPECT_EQ(p.x, c.x) << c.w << "x" << c.h;
        EXPECT_EQ(p.y, c.y) << c.w << "x" << c.h;
        EXPECT_EQ(p.width, c.width) << c.w << "x" << c.h;
        EXPECT_EQ(p.height, c.height) << c.w << "x" << c.h;
    }
}

TEST(ArrivalOrder, HandsItemsOnInTheirOrder)
{
    ArrivalOrderBuffer<std::string> order;
    EXPECT_TRUE(order.Put(2, "c").empty());
    EXPECT_TRUE(order.Put(1, "b").empty());
    EXPECT_EQ(order.Waiting(), 2u);
    EXPECT_EQ(order.Put(0, "a"), (std::vector<std::string>{"a", "b", "c"}));
    // A number that never comes is skipped; one already handed on is dropped.
    EXPECT_TRUE(order.Put(4, "e").empty());
    EXPECT_EQ(order.Skip(3), (std::vector<std::string>{"e"}));
    EXPECT_TRUE(order.Put(1, "again").empty());
    EXPECT_EQ(order.NextDue(), 5u);
    order.Reset(0);
    EXPECT_EQ(order.Waiting(), 0u);
    EXPECT_EQ(order.Put(0, "x"), (std::vector<std::string>{"x"}));
}

TEST(SectorText, ParsesWhatTheEditsHold)
{
    const struct {
        const char* text;
        std::optional<std::uint64_t> value;
    } cases[] = {
        {"0", 0},
        {" 2048 ", 2048},
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", std::nullopt},
        {"", std::nullopt},
        {"12a", std::nullopt},
        {"-5", std::nullopt},
        {"1 000", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseSectorText(c.text), c.value) << c.text;
}

// ---- the wizard on the sample disk ---------------------------------------------------------------

class CarvingSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(DeviceRegistry::Instance().AddImage(test::FixtureImage("sample.img").string(), false), 0);
        inv.RecoveryMode = kModePhoto;
        DriveRefreshOptions o;
        o.RefreshRegistry = false;
        o.Logical.MountInfoPath = "/nonexistent/mountinfo";
        BuildDriveInventory(inv, DeviceRegistry::Instance(), o);
        disk = inv.Tree.FirstChild(inv.PhysicalDrivesItem);
        ASSERT_NE(disk, kNoTreeNode);
        std::string reason;
        auto general = SignatureDataFile::Load(SignatureFilePath(TORVANE_RES_DIR, "QOVExt2.dll"), &reason);
        auto advance = SignatureDataFile::Load(SignatureFilePath(TORVANE_RES_DIR, "QOVExt2Adv.dll"), &reason);
        ASSERT_TRUE(general && advance) << reason;
        AppendSignatureFile(*general, photo.general);
        AppendSignatureFile(*advance, photo.advance);
    }

    // Page 0 as the dialog fills it for `node`: the range the selection set.
    CarvingDriveInput Input(TreeNodeId node, int mode = kModePhoto)
    {
        DriveSelectionContext ctx;
        ctx.RecoveryMode = mode;
        CarvingDriveInput in;
        in.selectedItem = node;
        in.selection = PrepareDriveSelection(inv, node, ctx);
        in.startText = std::to_string(in.selection.RangeStart);
        in.endText = std::to_string(in.selection.RangeEnd);
        in.minSector = in.selection.RangeMin;
        in.maxSector = in.selection.RangeMax;
        in.canOpen = [](const std::string& path) { return path == "\\\\.\\PhysicalDrive0"; };
        return in;
    }

    std::unique_ptr<CarvingSession> Photo()
    {
        auto s = std::make_unique<CarvingSession>(kModePhoto, "Photo");
        s->SetPhotoSignatures(photo);
        s->SetSignatureFolder(TORVANE_RES_DIR);
        return s;
    }

    std::unique_ptr<CarvingSession> Signature()
    {
        auto s = std::make_unique<CarvingSession>(kModeSignature, "Signature");
        s->SetSignatureFolder(TORVANE_RES_DIR);
        return s;
    }

    // Lists a mounted volume E: whose extent on disk 0 is [start, end).
    TreeNodeId ListVolume(std::uint64_t start, std::uint64_t end, bool dynamic)
    {
        TreeNodeInit init;
        init.text = "Logical Drives";
        init.image = kImageDriveGroup;
        inv.LogicalDrivesItem = inv.Tree.InsertChild(inv.MyComputerItem, init);
        LogicalVolumeInfo v;
        v.Letter = 'E';
        v.Id = "\\\\.\\E:";
        v.FsName = "FAT32";
        v.Label = "CARD";
        v.SectorCount = end - start;
        v.Extent = VolumeDiskExtent{true, 0, start, end};
        v.Dynamic = dynamic;
        EnumerateLogicalDrives(inv, {v});
        return inv.Tree.FirstChild(inv.LogicalDrivesItem);
    }

    std::uint64_t Num(const std::string& key) { return test::GeometryNumber(geometry, key).value_or(0); }

    test::ScopedTestRegistry scoped;
    DriveInventory inv;
    TreeNodeId disk = kNoTreeNode;
    PhotoSignatureLists photo;
    test::TempDir dir;
    const test::Geometry geometry = test::LoadGeometry("sample.img");
};

TEST_F(CarvingSessionTest, PageZeroChecksInOrder)
{
    const std::string endOrder = ProgramState::Instance().Messages.EndSectorOrderText;
    const struct {
        const char* start;
        const char* end;
        CarvingStepOutcome outcome;
        std::string message;
    } cases[] = {
        {"", "", CarvingStepOutcome::Message, kStartSectorMissingText},   // Start before End is looked at
        {"  ", "100", CarvingStepOutcome::Message, kStartSectorMissingText},
        {"0", "", CarvingStepOutcome::Message, endOrder},
        {"0", "0", CarvingStepOutcome::Message, endOrder},                // an End of 0, even with Start 0
        {"10", "10", CarvingStepOutcome::Message, endOrder},
        {"11", "10", CarvingStepOutcome::Message, endOrder},
        {"1x", "10", CarvingStepOutcome::Message, kPositiveIntegerText},
        {"1", "ten", CarvingStepOutcome::Message, kPositiveIntegerText},
        {"10", "11", CarvingStepOutcome::Advanced, ""},
        {" 2048 ", " 216064", CarvingStepOutcome::Advanced, ""},
    };
    for (const auto& c : cases) {
        auto session = Photo();
        CarvingDriveInput in = Input(disk);
        in.startText = c.start;
        in.endText = c.end;
        const CarvingStepResult r = session->NextFromDrive(inv, in);
        EXPECT_EQ(r.outcome, c.outcome) << "'" << c.start << "' '" << c.end << "'";
        EXPECT_EQ(r.message, c.message) << "'" << c.start << "' '" << c.end << "'";
        EXPECT_EQ(session->WizardStep(), c.outcome == CarvingStepOutcome::Advanced ? 1 : 0);
    }
}

TEST_F(CarvingSessionTest, RootItemsAndUnreadableDrivesAreRefused)
{
    for (TreeNodeId root : {inv.MyComputerItem, inv.PhysicalDrivesItem}) {
        auto session = Photo();
        CarvingDriveInput in = Input(disk);
        in.selectedItem = root;
        const CarvingStepResult r = session->NextFromDrive(inv, in);
        EXPECT_EQ(r.outcome, CarvingStepOutcome::Message);
        EXPECT_EQ(r.message, ProgramState::Instance().Messages.SelectDriveText);
    }
    auto session = Photo();
    CarvingDriveInput in = Input(disk);
    in.canOpen = [](const std::string&) { return false; };
    const CarvingStepResult r = session->NextFromDrive(inv, in);
    EXPECT_EQ(r.message, ProgramState::Instance().Messages.DriveUnavailableText);
    EXPECT_EQ(session->WizardStep(), 0);
}

TEST_F(CarvingSessionTest, DiskAndPartitionSummaries)
{
    auto session = Photo();
    ASSERT_EQ(session->NextFromDrive(inv, Input(disk)).outcome, CarvingStepOutcome::Advanced);
    EXPECT_EQ(session->SearchStart(), Num("p1.start"));
    EXPECT_EQ(session->SearchEnd(), Num("disk.sectors"));
    EXPECT_EQ(session->DevicePath(), "\\\\.\\PhysicalDrive0");
    const std::string start = std::to_string(Num("p1.start")), end = std::to_string(Num("disk.sectors"));
    const std::vector<std::pair<std::string, std::string>> diskRows = {
        {"1. Search Type : ", "Photo Search"}, {"2. Start Sector : ", start}, {"3. End Sector : ", end},
        {"4. Drive : ", "Disk - 0"}};
    ASSERT_EQ(session->SummaryRows().size(), diskRows.size());
    for (std::size_t i = 0; i < diskRows.size(); ++i) {
        EXPECT_EQ(session->SummaryRows()[i].name, diskRows[i].first);
        EXPECT_EQ(session->SummaryRows()[i].value, diskRows[i].second);
    }

    auto second = Signature();
    second->SetModeText("Video");
    const TreeNodeId p2 = inv.Tree.Child(disk, 1);
    CarvingDriveInput in = Input(p2, kModeVideo);
    ASSERT_EQ(second->NextFromDrive(inv, in).outcome, CarvingStepOutcome::Advanced);
    EXPECT_EQ(second->SearchStart(), Num("p2.start"));
    EXPECT_EQ(second->SearchEnd(), Num("p2.end"));
    const auto& rows = second->SummaryRows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].value, "Video Search");
    EXPECT_EQ(rows[1].name, "2. Partition Type : ");
    EXPECT_EQ(rows[1].value, in.selection.Table.Rows[2][1]);
    EXPECT_EQ(rows[4].name, "5. Drive : ");
    EXPECT_EQ(rows[4].value, "Disk - 0");
    // The saved-folder text of the mode is the status line of the next page.
    EXPECT_EQ(ProgramState::Instance().Messages.CarvingCompletionText, SavedFolderText(ProgramBaseName(), "Video"));
}

TEST_F(CarvingSessionTest, LogicalDriveReadThroughItsDisk)
{
    // Min 0, Max 1000, Start 100, End 900 of a volume at [2048, 3048) on the
    // disk: sectors [2148, 2948) of the disk.
    const TreeNodeId volume = ListVolume(2048, 3048, false);
    auto session = Photo();
    CarvingDriveInput in = Input(volume);
    in.minSector = 0;
    in.maxSector = 1000;
    in.startText = "100";
    in.endText = "900";
    int asked = 0;
    in.askLogicalScan = [&] { return ++asked, 0; };
    const CarvingStepResult r = session->NextFromDrive(inv, in);
    ASSERT_EQ(r.outcome, CarvingStepOutcome::Advanced) << r.message;
    EXPECT_EQ(asked, 0);  // not a dynamic disk: no question
    EXPECT_EQ(session->SearchStart(), 2148u);
    EXPECT_EQ(session->SearchEnd(), 2948u);
    EXPECT_EQ(session->DevicePath(), "\\\\.\\PhysicalDrive0");
    EXPECT_TRUE(session->ScanVolumeThroughDisk());
    EXPECT_EQ(session->SummaryRows().back().value, "E:");
}

TEST_F(CarvingSessionTest, LogicalDriveEndIsCutAtTheDisk)
{
    const std::uint64_t sectors = Num("disk.sectors");
    const TreeNodeId volume = ListVolume(sectors - 100, sectors + 400, false);
    auto session = Photo();
    CarvingDriveInput in = Input(volume);
    ASSERT_EQ(session->NextFromDrive(inv, in).outcome, CarvingStepOutcome::Advanced);
    EXPECT_EQ(session->SearchStart(), sectors - 100);
    EXPECT_EQ(session->SearchEnd(), sectors);
}

TEST_F(CarvingSessionTest, DynamicDiskAsksHowToRead)
{
    const TreeNodeId volume = ListVolume(2048, 3048, true);
    const struct {
        int answer;
        CarvingStepOutcome outcome;
        std::string device;
        std::uint64_t start, end;
    } cases[] = {
        {0, CarvingStepOutcome::Refused, "", 0, 0},                              // Cancel: no message
        {1, CarvingStepOutcome::Advanced, "\\\\.\\E:", 100, 900},                // the volume itself
        {2, CarvingStepOutcome::Advanced, "\\\\.\\PhysicalDrive0", 2148, 2948},  // through its disk
    };
    for (const auto& c : cases) {
        auto session = Photo();
        CarvingDriveInput in = Input(volume);
        in.minSector = 0;
        in.maxSector = 1000;
        in.startText = "100";
        in.endText = "900";
        in.askLogicalScan = [&] { return c.answer; };
        in.canOpen = [](const std::string&) { return true; };
        const CarvingStepResult r = session->NextFromDrive(inv, in);
        EXPECT_EQ(r.outcome, c.outcome) << c.answer;
        EXPECT_TRUE(r.message.empty()) << r.message;
        if (c.outcome != CarvingStepOutcome::Advanced)
            continue;
        EXPECT_EQ(session->DevicePath(), c.device);
        EXPECT_EQ(session->SearchStart(), c.start);
        EXPECT_EQ(session->SearchEnd(), c.end);
    }
}

TEST_F(CarvingSessionTest, SignatureCheckListAndDestinationChecks)
{
    auto session = Signature();
    ASSERT_EQ(session->NextFromDrive(inv, Input(disk, kModeSignature)).outcome, CarvingStepOutcome::Advanced);
    const auto& items = session->ExtensionItems();
    ASSERT_FALSE(items.empty());
    std::set<std::string> texts;
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_TRUE(items[i].checked) << items[i].text;
        texts.insert(items[i].text);
        if (i > 0) {
            EXPECT_LE(items[i - 1].text, items[i].text);   // sorted by extension
        }
    }
    EXPECT_EQ(texts.size(), items.size());                 // each type once
    EXPECT_TRUE(texts.count("PDF"));
    EXPECT_TRUE(texts.count("MP4"));
    EXPECT_TRUE(session->ThoroughPass());

    // A destination that does not exist: the Browse message, still on page 1.
    CarvingStepResult r = session->StartSearch((dir.path() / "missing").string());
    EXPECT_EQ(r.message, kDestinationMissingText);
    EXPECT_TRUE(r.focusBrowse);
    EXPECT_EQ(session->WizardStep(), 1);

    // No type ticked: the extension message; the output folders are made.
    session->SetAllExtensionsChecked(false);
    r = session->StartSearch(dir.path().string() + "/");
    EXPECT_EQ(r.message, kSelectExtensionText);
    EXPECT_EQ(session->WizardStep(), 1);
    EXPECT_TRUE(fs::is_directory(dir.path() / ProgramBaseName() / "Signature Search"));

    // Back to page 0 and Next again: every type ticked again.
    EXPECT_EQ(session->Back(), CarvingSession::BackStep::ToDrive);
    ASSERT_EQ(session->NextFromDrive(inv, Input(disk, kModeSignature)).outcome, CarvingStepOutcome::Advanced);
    for (const CarvingExtensionItem& item : session->ExtensionItems())
        EXPECT_TRUE(item.checked) << item.text;
}

TEST_F(CarvingSessionTest, MissingDataFileIsAMessageNotAnExit)
{
    auto session = Signature();
    session->SetSignatureFolder((dir.path() / "nowhere").string());
    const CarvingStepResult r = session->NextFromDrive(inv, Input(disk, kModeSignature));
    EXPECT_EQ(r.outcome, CarvingStepOutcome::Message);
    EXPECT_EQ(r.message.rfind("Couldn't open source file: ", 0), 0u) << r.message;
    EXPECT_EQ(session->WizardStep(), 0);
}

// ---- the searches on the sample disk ---------------------------------------------------------------

struct Planted {
    std::uint64_t sector = 0, size = 0;
    std::string sha, search, extension;
};

std::vector<Planted> LoadPlanted()
{
    std::vector<Planted> out;
    std::ifstream in(test::FixtureImage("sample.img.planted"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        Planted p;
        std::string pass, source;
        fields >> p.sector >> p.size >> p.sha >> p.search >> pass >> p.extension >> source;
        out.push_back(p);
    }
    return out;
}

std::string PrefixSha(const fs::path& path, std::uint64_t size)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return test::Sha256Hex(bytes);
}

// Files under `root` by the extension folder they lie in (JPG_001 counts as JPG).
std::map<std::string, std::vector<fs::path>> FilesByType(const fs::path& root)
{
    std::map<std::string, std::vector<fs::path>> out;
    if (!fs::exists(root))
        return out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        std::string folder = entry.path().parent_path().filename().string();
        folder = folder.substr(0, folder.find('_'));
        out[folder].push_back(entry.path());
    }
    return out;
}

TEST_F(CarvingSessionTest, PhotoSearchOfTheSampleDisk)
{
    auto session = Photo();
    ASSERT_EQ(session->NextFromDrive(inv, Input(disk)).outcome, CarvingStepOutcome::Advanced);
    ASSERT_EQ(session->RunSearchHere(dir.path().string()).outcome, CarvingStepOutcome::Advanced);
    EXPECT_EQ(session->Finished(), 0);
    EXPECT_TRUE(session->ErrorText().empty());

    const fs::path search = fs::path(session->SearchFolder());
    EXPECT_EQ(search, dir.path() / ProgramBaseName() / "Photo Search");
    const auto files = FilesByType(search);
    std::uint64_t total = 0;
    for (const ExtensionFolderRow& row : session->ExtensionRows()) {
        const auto it = files.find(row.extension);
        EXPECT_EQ(row.filesFound, it == files.end() ? 0u : it->second.size()) << row.extension;
        total += row.filesFound;
    }
    EXPECT_EQ(total, session->Counters()->filesFound.load());
    EXPECT_GE(files.count("JPG") ? files.at("JPG").size() : 0u, 20u);  // the volumes' photos and the planted ones

    // Every planted picture comes out from its first byte on.
    std::set<std::string> prefixes;
    for (const auto& [type, paths] : files)
        for (const fs::path& p : paths)
            for (const Planted& planted : LoadPlanted()) {
                if (planted.search == "photo" && AsciiUpper(planted.extension) == type &&
                    PrefixSha(p, planted.size) == planted.sha)
                    prefixes.insert(planted.sha);
            }
    for (const Planted& planted : LoadPlanted()) {
        if (planted.search == "photo") {
            EXPECT_TRUE(prefixes.count(planted.sha)) << planted.extension << " at " << planted.sector;
        }
    }

    // Back: the search page goes, then the destination page, then the dialog.
    EXPECT_EQ(session->Back(), CarvingSession::BackStep::ToDestination);
    EXPECT_EQ(session->Counters(), nullptr);
    EXPECT_EQ(session->Back(), CarvingSession::BackStep::ToDrive);
    EXPECT_EQ(session->Back(), CarvingSession::BackStep::ToMainWindow);
}

TEST_F(CarvingSessionTest, SignatureSearchOfTheTickedType)
{
    auto session = Signature();
    ASSERT_EQ(session->NextFromDrive(inv, Input(disk, kModeSignature)).outcome, CarvingStepOutcome::Advanced);
    for (std::size_t i = 0; i < session->ExtensionItems().size(); ++i)
        session->SetExtensionChecked(i, session->ExtensionItems()[i].text == "PDF");
    ASSERT_EQ(session->RunSearchHere(dir.path().string()).outcome, CarvingStepOutcome::Advanced);
    EXPECT_EQ(session->Finished(), 0);

    const auto rows = session->TypeRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].extension, "PDF");
    const auto files = FilesByType(fs::path(session->SearchFolder()));
    ASSERT_EQ(files.size(), 1u);
    ASSERT_TRUE(files.count("PDF"));
    EXPECT_EQ(rows[0].filesFound, files.at("PDF").size());
    EXPECT_EQ(rows[0].filesFound, 7u);   // two on each volume, and the planted one
    EXPECT_TRUE(fs::is_regular_file(rows[0].lastPath));
    EXPECT_EQ(fs::path(rows[0].lastPath).filename().string(), rows[0].lastName);
    bool planted = false;
    for (const Planted& p : LoadPlanted()) {
        if (p.search != "signature")
            continue;
        for (const fs::path& f : files.at("PDF"))
            planted = planted || PrefixSha(f, p.size) == p.sha;
    }
    EXPECT_TRUE(planted);
}

}  // namespace
}  // namespace torvane
