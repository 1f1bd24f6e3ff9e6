#include "carving/carving_session.h"

#include "base/program_state.h"
#include "base/text_encoding.h"
#include "carving/carved_names.h"
#include "carving/carved_output.h"
#include "carving/extension_table.h"
#include "disk/volume_geometry.h"
#include "platform/device_registry.h"
#include "results/save_target.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

namespace torvane {
namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string Trim(std::string_view text)
{
    std::size_t a = 0, b = text.size();
    while (a < b && IsBlank(text[a]))
        ++a;
    while (b > a && IsBlank(text[b - 1]))
        --b;
    return std::string(text.substr(a, b - a));
}

bool IsFixedNodeText(const std::string& text)
{
    return text == "Logical Drives" || text == "Physical Drives" || text == "My Computer";
}

const SharedMessageTexts& Texts()
{
    return ProgramState::Instance().Messages;
}

CarvingStepResult Message(std::string text, bool focusBrowse = false)
{
    CarvingStepResult r;
    r.outcome = CarvingStepOutcome::Message;
    r.message = std::move(text);
    r.focusBrowse = focusBrowse;
    return r;
}

CarvingStepResult Advanced()
{
    CarvingStepResult r;
    r.outcome = CarvingStepOutcome::Advanced;
    return r;
}

// "E:" of "\\.\E:" (the drive's own letter as the summary names it).
std::string DriveLetterOf(const std::string& volumePath)
{
    static constexpr std::string_view kPrefix = "\\\\.\\";
    if (volumePath.compare(0, kPrefix.size(), kPrefix) == 0)
        return volumePath.substr(kPrefix.size(), 2);
    return volumePath.substr(0, 2);
}

}  // namespace

std::optional<std::uint64_t> ParseSectorText(std::string_view text)
{
    const std::string t = Trim(text);
    if (t.empty() || t.size() > 20 || t.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : t) {
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::pair<std::string, std::string> SignatureFilesOfMode(const std::string& modeText)
{
    if (modeText == "Video")
        return {"QOVVideo.dll", "QOVVideoAdv.dll"};
    if (modeText == "Signature" || modeText == "Raw")
        return {"QOVSig.dll", "QOVSigAdv.dll"};
    return {};
}

// ---- what the job reports ----------------------------------------------------------

class CarvingSession::Reports : public CarvingEvents {
public:
    explicit Reports(CarvingSession& session) : session_(session) {}

    void SetObserver(CarvingSessionObserver* observer)
    {
        std::lock_guard lock(mutex_);
        observer_ = observer;
    }

    void OnStatusText(const std::string& text) override
    {
        if (CarvingSessionObserver* o = Observer())
            o->OnStatusText(text);
    }
    void OnPassStarted(const CarvingPassInfo& info) override
    {
        if (CarvingSessionObserver* o = Observer())
            o->OnPassStarted(info);
    }
    void OnCarvedFile(const CarvedFile& file) override
    {
        session_.CountCarvedFile(file);
        if (CarvingSessionObserver* o = Observer())
            o->OnCarvedFile(file);
    }
    void OnQuestion(const JobQuestion& question, std::function<void(int)> reply) override
    {
        if (CarvingSessionObserver* o = Observer())
            o->OnQuestion(question, std::move(reply));
        else
            reply(-1);
    }
    void OnFinished(bool /*stopped*/) override
    {
        if (CarvingSessionObserver* o = Observer())
            o->OnSearchEnded();
    }

private:
    CarvingSessionObserver* Observer()
    {
        std::lock_guard lock(mutex_);
        return observer_;
    }

    CarvingSession& session_;
    std::mutex mutex_;
    CarvingSessionObserver* observer_ = nullptr;
};

// ---- the session -----------------------------------------------------------------------

CarvingSession::CarvingSession(int recoveryMode, std::string modeText)
    : recoveryMode_(recoveryMode), modeText_(std::move(modeText)), reports_(std::make_unique<Reports>(*this))
{
}

CarvingSession::~CarvingSession()
{
    StopAll();
}

void CarvingSession::SetModeText(std::string modeText)
{
    if (step_ == 0 && !job_)
        modeText_ = std::move(modeText);
}

void CarvingSession::SetObserver(CarvingSessionObserver* observer)
{
    reports_->SetObserver(observer);
}

const std::string& CarvingSession::ProgramBase() const
{
    return baseName_.empty() ? ProgramBaseName() : baseName_;
}

std::string CarvingSession::SearchFolder() const
{
    return CarvingSearchFolder(destination_, ProgramBase(), modeText_);
}

// ---- page 0 ---------------------------------------------------------------------------------

CarvingStepResult CarvingSession::NextFromDrive(const DriveInventory& inv, const CarvingDriveInput& in)
{
    if (step_ != 0 || SearchRunning())
        return {};
    const ScanSource& src = in.selection.Source;
    std::string itemText, parentText;
    {
        auto lock = inv.Lock();
        itemText = inv.Tree.Text(in.selectedItem);
        const TreeNodeId parent = in.selectedItem == kNoTreeNode ? kNoTreeNode : inv.Tree.Parent(in.selectedItem);
        parentText = inv.Tree.Text(parent);
    }
    if (in.selectedItem == kNoTreeNode || IsFixedNodeText(itemText))
        return Message(Texts().SelectDriveText);

    // A logical drive: on a dynamic disk the prompt decides how it is read;
    // otherwise it is read through its physical disk.
    int logicalChoice = 0;
    if (parentText == "Logical Drives") {
        if (src.Volume.Extent.Dynamic != 0) {
            logicalChoice = in.askLogicalScan ? in.askLogicalScan() : 0;
            if (logicalChoice != 1 && logicalChoice != 2)
                return {};
        } else {
            logicalChoice = 2;
        }
    }

    // The range, as typed.
    const std::string startText = Trim(in.startText);
    if (startText.empty())
        return Message(kStartSectorMissingText);
    const std::optional<std::uint64_t> start = ParseSectorText(startText);
    if (!start)
        return Message(kPositiveIntegerText);
    const std::string endText = Trim(in.endText);
    if (endText.empty())
        return Message(Texts().EndSectorOrderText);
    const std::optional<std::uint64_t> end = ParseSectorText(endText);
    if (!end)
        return Message(kPositiveIntegerText);
    if (*end == 0 || *end <= *start)
        return Message(Texts().EndSectorOrderText);

    // The disk and the device.
    const std::string kind = in.selection.NodeKindText;
    auto canOpen = [&](const std::string& path) {
        if (in.canOpen)
            return in.canOpen(path);
        CurrentPartition probe;
        probe.DevicePath = path;
        return CanOpenCurrentDevice(probe);
    };
    int disk = src.DiskNumber;
    std::string device;
    const bool throughDisk = parentText == "Logical Drives" && kind == "Logical" && logicalChoice == 2;
    if (kind == "Logical") {
        device = src.Volume.Path;
    } else {
        if (disk < 0)
            return Message(Texts().DriveUnavailableText);
        device = PhysicalDrivePath(disk);
    }
    // A drive read through its disk needs the disk, not the volume (below).
    if (!throughDisk && (device.empty() || !canOpen(device)))
        return Message(Texts().DriveUnavailableText);

    std::uint64_t searchStart = *start, searchEnd = *end;
    bool viaDisk = false;
    if (throughDisk) {
        // The same sectors of the volume, counted on its physical disk.
        const SelectedVolumeExtent& ext = src.Volume.Extent;
        const std::uint64_t min = std::min(in.minSector, *start);
        const std::uint64_t max = std::max(in.maxSector, *end);
        const std::uint64_t fromStart = *start - min;
        const std::uint64_t beforeMax = max - *end;
        searchStart = ext.StartSector + fromStart;
        searchEnd = ext.EndSector > beforeMax ? ext.EndSector - beforeMax : 0;
        const DiskContext diskOfVolume = DescribeDisk(inv, static_cast<int>(ext.DiskNumber));
        if (diskOfVolume.Found() && diskOfVolume.SectorCount != 0 && searchEnd > diskOfVolume.SectorCount)
            searchEnd = diskOfVolume.SectorCount;
        disk = static_cast<int>(ext.DiskNumber);
        device = PhysicalDrivePath(disk);
        if (!canOpen(device))
            return Message(Texts().DriveUnavailableText);
        viaDisk = true;
    }

    searchStart_ = searchStart;
    searchEnd_ = searchEnd;
    devicePath_ = device;
    currentDisk_ = disk;
    viaDisk_ = viaDisk;
    BuildSummary(in, kind);

    if (!IsPhotoSearch()) {
        CarvingStepResult filled = FillExtensionItems();
        if (filled.outcome != CarvingStepOutcome::Advanced)
            return filled;
        thorough_ = true;
    }
    MakeSavedFolderText(modeText_);
    step_ = 1;
    return Advanced();
}

void CarvingSession::BuildSummary(const CarvingDriveInput& in, const std::string& kind)
{
    summary_.clear();
    const std::string startText = std::to_string(searchStart_);
    const std::string endText = std::to_string(searchEnd_);
    const std::string diskText = "Disk - " + std::to_string(currentDisk_);
    const PropertyTable& table = in.selection.Table;
    const std::string partitionType =
        table.Rows.size() > 2 && table.Rows[2].size() > 1 ? table.Rows[2][1] : std::string();
    if (kind == "Logical" || kind == "part") {
        summary_.push_back({"1. Search Type : ", ModeFolder()});
        summary_.push_back({"2. Partition Type : ", partitionType});
        summary_.push_back({"3. Start Sector : ", startText});
        summary_.push_back({"4. End Sector : ", endText});
        summary_.push_back(
            {"5. Drive : ", kind == "Logical" ? DriveLetterOf(in.selection.Source.Volume.Path) : diskText});
    } else if (kind == "Hard Disk") {
        summary_.push_back({"1. Search Type : ", ModeFolder()});
        summary_.push_back({"2. Start Sector : ", startText});
        summary_.push_back({"3. End Sector : ", endText});
        summary_.push_back({"4. Drive : ", diskText});
    }
}

CarvingStepResult CarvingSession::FillExtensionItems()
{
    items_.clear();
    generalFile_.reset();
    thoroughFile_.reset();
    const auto [generalName, thoroughName] = SignatureFilesOfMode(modeText_);
    if (generalName.empty())
        return Advanced();
    std::string reason;
    generalFile_ = SignatureDataFile::Load(SignatureFilePath(signatureFolder_, generalName), &reason);
    if (generalFile_)
        thoroughFile_ = SignatureDataFile::Load(SignatureFilePath(signatureFolder_, thoroughName), &reason);
    if (!generalFile_ || !thoroughFile_) {
        // The program goes on without this search instead of ending.
        generalFile_.reset();
        thoroughFile_.reset();
        return Message("Couldn't open source file: " + reason);
    }
    for (const SignatureListItem& item : SignatureExtensionItems(*generalFile_, *thoroughFile_))
        items_.push_back({item.text, item.description, true});
    std::stable_sort(items_.begin(), items_.end(), [](const CarvingExtensionItem& a, const CarvingExtensionItem& b) {
        return AsciiUpper(a.text) < AsciiUpper(b.text);
    });
    return Advanced();
}

void CarvingSession::SetExtensionChecked(std::size_t index, bool checked)
{
    if (index < items_.size())
        items_[index].checked = checked;
}

void CarvingSession::SetAllExtensionsChecked(bool checked)
{
    for (CarvingExtensionItem& item : items_)
        item.checked = checked;
}

// ---- page 1 -------------------------------------------------------------------------------------

CarvingStepResult CarvingSession::PrepareSearch(const std::string& destinationText)
{
    if (step_ != 1 || SearchRunning())
        return {};
    if (searchEnd_ <= searchStart_)
        return Message(Texts().EndSectorOrderText);

    // The destination must exist; the search's own folders are made in it.
    std::string destination = Trim(destinationText);
    std::error_code ec;
    if (destination.empty() || !std::filesystem::is_directory(destination, ec))
        return Message(kDestinationMissingText, true);
    while (destination.size() > 1 && destination.back() == '/')
        destination.pop_back();
    destination_ = destination;
    TargetFileSystem& fs = defaults_.fileSystem ? *defaults_.fileSystem : PosixTargetFileSystem();
    const std::string baseFolder = destination + (destination == "/" ? "" : "/") + ProgramBase();
    // A folder that cannot be made shows when the first carved file cannot be created.
    if (MakeCarvedFolder(fs, baseFolder) == 0)
        MakeCarvedFolder(fs, baseFolder + "/" + ModeFolder());

    CarvingSearchRequest base = defaults_;
    base.device = nullptr;
    base.devicePath = devicePath_;
    base.startSector = searchStart_;
    base.endSector = searchEnd_;
    base.destination = destination;
    base.programBaseName = ProgramBase();
    base.thoroughPass = thorough_;

    {
        std::lock_guard lock(rowsMutex_);
        typeRows_.clear();
    }
    if (IsPhotoSearch()) {
        PhotoSearchRequest request;
        static_cast<CarvingSearchRequest&>(request) = base;
        const PhotoSignatureLists& lists = photoLists_ ? *photoLists_ : SharedPhotoSignatures();
        request.general = lists.general;
        request.advance = lists.advance;
        job_.reset();
        job_ = std::make_unique<PhotoSearchJob>(std::move(request), reports_.get());
    } else {
        std::map<std::string, bool> checkStates;
        std::vector<CarvingTypeRow> rows;
        for (const CarvingExtensionItem& item : items_) {
            checkStates[item.text] = item.checked;
            if (item.checked)
                rows.push_back({item.text, 0, {}, {}});
        }
        if (rows.empty())
            return Message(kSelectExtensionText);
        SignatureSearchRequest request;
        static_cast<CarvingSearchRequest&>(request) = base;
        request.modeText = modeText_;
        if (generalFile_)
            AppendCheckedSignatures(*generalFile_, checkStates, request.general);
        if (thoroughFile_)
            AppendCheckedSignatures(*thoroughFile_, checkStates, request.thorough);
        {
            std::lock_guard lock(rowsMutex_);
            typeRows_ = std::move(rows);
        }
        job_.reset();
        job_ = std::make_unique<SignatureSearchJob>(std::move(request), reports_.get());
    }
    ended_ = false;
    finished_ = 0;
    error_.clear();
    step_ = 2;
    return Advanced();
}

CarvingStepResult CarvingSession::StartSearch(const std::string& destinationText)
{
    CarvingStepResult r = PrepareSearch(destinationText);
    if (r.outcome == CarvingStepOutcome::Advanced && !job_->Start()) {
        job_.reset();
        step_ = 1;
        return Message("The search could not be started.");
    }
    return r;
}

CarvingStepResult CarvingSession::RunSearchHere(const std::string& destinationText)
{
    CarvingStepResult r = PrepareSearch(destinationText);
    if (r.outcome == CarvingStepOutcome::Advanced) {
        job_->RunHere();
        FinishSearch();
    }
    return r;
}

void CarvingSession::CountCarvedFile(const CarvedFile& file)
{
    if (IsPhotoSearch())
        return;
    const std::string key = ExtensionRowKey(file.extension);
    std::lock_guard lock(rowsMutex_);
    auto row = std::find_if(typeRows_.begin(), typeRows_.end(),
                            [&](const CarvingTypeRow& r) { return ExtensionRowKey(r.extension) == key; });
    if (row == typeRows_.end()) {
        // A type the check-list does not name (its record is always searched).
        typeRows_.push_back({AsciiUpper(file.extension), 0, {}, {}});
        row = typeRows_.end() - 1;
    }
    ++row->filesFound;
    row->lastName = file.name;
    row->lastPath = file.path;
}

// ---- the search ---------------------------------------------------------------------------------

bool CarvingSession::SearchRunning() const
{
    return job_ && job_->Running();
}

void CarvingSession::StopSearch()
{
    if (job_)
        job_->Stop();
}

bool CarvingSession::StopRequested() const
{
    return job_ && job_->StopRequested();
}

bool CarvingSession::FinishSearch()
{
    if (!job_)
        return false;
    // The worker's last report came before it left: this wait is short.
    job_->Wait();
    if (ended_)
        return false;
    ended_ = true;
    if (job_->Failed()) {
        finished_ = 1;
        error_ = job_->ErrorText();
    } else {
        finished_ = job_->Finished();
    }
    return true;
}

const CarvingCounters* CarvingSession::Counters() const
{
    return job_ ? &job_->Counters() : nullptr;
}

std::vector<CarvingTypeRow> CarvingSession::TypeRows() const
{
    std::lock_guard lock(rowsMutex_);
    return typeRows_;
}

std::vector<ExtensionFolderRow> CarvingSession::ExtensionRows() const
{
    return job_ ? job_->ExtensionRows() : std::vector<ExtensionFolderRow>{};
}

// ---- Back ------------------------------------------------------------------------------------------

CarvingSession::BackStep CarvingSession::Back()
{
    if (SearchRunning())
        return BackStep::Refused;
    switch (step_) {
    case 2:
        job_.reset();
        {
            std::lock_guard lock(rowsMutex_);
            typeRows_.clear();
        }
        ended_ = false;
        finished_ = 0;
        error_.clear();
        step_ = 1;
        MakeSavedFolderText(modeText_);
        return BackStep::ToDestination;
    case 1:
        summary_.clear();
        items_.clear();
        generalFile_.reset();
        thoroughFile_.reset();
        viaDisk_ = false;
        step_ = 0;
        return BackStep::ToDrive;
    default:
        return BackStep::ToMainWindow;
    }
}

void CarvingSession::StopAll()
{
    if (job_)
        job_->StopAndWait();
}

}  // namespace torvane
