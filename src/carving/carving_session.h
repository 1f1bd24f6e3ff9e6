// One carving dialog's work apart from its widgets: the Photo Search and the
// Video and signature searches as a three-step wizard.
//
//   step 0  the drive and the sector range   NextFromDrive()  -> step 1
//   step 1  the destination, the pass choice StartSearch()    -> step 2
//           (signature search: the check-list of file types)
//   step 2  the search runs, then shows what it carved          Back() -> 1
//
// The session checks what the user entered, works out the device and the
// range to carve (a logical drive read through its physical disk included),
// builds the summary of the choice, reads the signature search's check-list
// from the mode's two signature data files, makes the output folders, runs
// the search job and keeps what the dialog shows of it: the counters its
// timer reads, the per-type rows, the end state.
//
// The dialogs (raw_search_dialog.h, sig_duplicate_dialog.h) are views over
// this; tests drive the same session without a window. The job reports to
// the observer from its worker thread; the dialog forwards to its GUI thread.
//
// Threads: the requests are made from one thread (the GUI thread, or the
// test's); FinishSearch() is called there after OnSearchEnded.
#pragma once

#include "base/tree_model.h"
#include "carving/carving_events.h"
#include "carving/carving_search_job.h"
#include "carving/signature_file.h"
#include "carving/signature_selection.h"
#include "disk/drive_inventory.h"
#include "disk/drive_selection.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

inline constexpr char kStartSectorMissingText[] = "Please enter the 'Start Sector' of the Drive.";
inline constexpr char kPositiveIntegerText[] = "Enter a positive integer.";
inline constexpr char kDestinationMissingText[] =
    "Please specify the Destination path where the recovered data will be saved by clicking on 'Browse' button.";
inline constexpr char kSelectExtensionText[] =
    "Please select at least one Extension type to continue recovery process.";
// The explanation of the two passes on the destination page.
inline constexpr char kScanningAlgorithmsText[] =
    "\nKZU Primary scanning Algorithm emphasizes on recovery of file types that are created by world's most of the "
    "Digital Camera, Mobile Phones, digital gadgets and Editing or Organizing tools.\n\nKZU Thorough Scanning "
    "Algorithm Search Empowers the recovery procedure to find additional and exceptional files structures that are "
    "not recoverable in General Recovery Procedure (most likely due to exceptional internal structure of such "
    "files). However, enabling the Thorough Scanning Algorithm Search doubles the time taken by Primary Recovery "
    "procedure.";

enum class CarvingStepOutcome {
    Refused,   // nothing happens, no message (a prompt was cancelled, a search runs)
    Message,   // show `message` (caption "Message", information icon); the step stays
    Advanced,  // the wizard moved on
};

struct CarvingStepResult {
    CarvingStepOutcome outcome = CarvingStepOutcome::Refused;
    std::string message;
    bool focusBrowse = false;  // the destination is missing: "Browse" gets the focus
};

// One line of the summary of the choice ("1. Search Type : ", "Photo Search").
struct CarvingSummaryRow {
    std::string name;
    std::string value;
};

// One file type of the signature search's check-list.
struct CarvingExtensionItem {
    std::string text;         // the extension without its dot, in capitals ("MP4")
    std::string description;  // what the signature data file says of it
    bool checked = true;
};

// One row of the signature search's file-type list: a ticked type and what
// was carved of it.
struct CarvingTypeRow {
    std::string extension;     // as the check-list shows it ("MP4")
    std::uint64_t filesFound = 0;
    std::string lastName;      // the last carved file of the type
    std::string lastPath;      // and its full path
};

// What page 0 shows when "Next" is pressed.
struct CarvingDriveInput {
    TreeNodeId selectedItem = kNoTreeNode;  // the drive tree's selected item
    DriveSelection selection;               // what the last selection described (source, table, kind)
    std::string startText, endText;         // the "Start Sector" and "End Sector" edits
    std::uint64_t minSector = 0, maxSector = 0;  // the range group's Min and Max
    // The logical-drive prompt for a drive on a dynamic disk: 1 "Perform
    // Logical Scan", 2 "Perform Physical Scan", anything else cancels.
    std::function<int()> askLogicalScan;
    // Whether a device path opens (default: CanOpenCurrentDevice).
    std::function<bool(const std::string& devicePath)> canOpen;
};

// What a session tells its dialog. Called on the search's worker thread.
class CarvingSessionObserver {
public:
    virtual ~CarvingSessionObserver() = default;
    virtual void OnPassStarted(const CarvingPassInfo& /*info*/) {}
    // A carved file was closed, in the order the files close. The carving
    // waits while this runs: a view that cannot keep up may hold it here.
    virtual void OnCarvedFile(const CarvedFile& /*file*/) {}
    virtual void OnStatusText(const std::string& /*text*/) {}
    // A question of the job ("read-failure", "message"): `reply` once, from any
    // thread. The default answers -1 (Skip, and go on after a message).
    virtual void OnQuestion(const JobQuestion& /*question*/, std::function<void(int)> reply) { reply(-1); }
    // The search's worker has ended (its last call): call FinishSearch().
    virtual void OnSearchEnded() {}
};

class CarvingSession {
public:
    // `recoveryMode`: 3 Photo, 4 Video, 5 signature; `modeText`: "Photo",
    // "Video" or the edition's signature mode text.
    CarvingSession(int recoveryMode, std::string modeText);
    ~CarvingSession();
    CarvingSession(const CarvingSession&) = delete;
    CarvingSession& operator=(const CarvingSession&) = delete;

    void SetObserver(CarvingSessionObserver* observer);

    int RecoveryMode() const { return recoveryMode_; }
    const std::string& ModeText() const { return modeText_; }
    // The Video/signature dialog learns its mode after it was built; the
    // mode text can change only before the first step.
    void SetModeText(std::string modeText);
    // The output folder of the mode and its "Search Type": "Photo Search".
    std::string ModeFolder() const { return modeText_ + " Search"; }
    bool IsPhotoSearch() const { return recoveryMode_ == 3; }

    // ---- settings ----------------------------------------------------------------
    // The folder of the signature data files (the program's folder).
    void SetSignatureFolder(std::string folder) { signatureFolder_ = std::move(folder); }
    // The Photo Search's lists (default: the ones loaded at start-up).
    void SetPhotoSignatures(PhotoSignatureLists lists) { photoLists_ = std::move(lists); }
    // The top output folder (default: ProgramBaseName()).
    void SetProgramBaseName(std::string name) { baseName_ = std::move(name); }
    const std::string& ProgramBase() const;
    // Settings a test gives every search's request (read-ahead, folder size,
    // destination file system); the range, device and destination are the session's.
    void SetRequestDefaults(const CarvingSearchRequest& defaults) { defaults_ = defaults; }

    // ---- the wizard ----------------------------------------------------------------
    int WizardStep() const { return step_; }

    // "Next" on page 0: checks the range, the drive and the device, moves a
    // logical drive's range onto its physical disk when it is read through
    // it, builds the summary, and for the signature search fills the
    // check-list with every type ticked.
    CarvingStepResult NextFromDrive(const DriveInventory& inv, const CarvingDriveInput& in);

    // After page 0: the sector range to carve (the end is not itself read) and the device.
    std::uint64_t SearchStart() const { return searchStart_; }
    std::uint64_t SearchEnd() const { return searchEnd_; }
    const std::string& DevicePath() const { return devicePath_; }
    int CurrentDiskIndex() const { return currentDisk_; }
    bool ScanVolumeThroughDisk() const { return viaDisk_; }
    const std::vector<CarvingSummaryRow>& SummaryRows() const { return summary_; }

    // Page 1 of the signature search: the check-list, sorted by extension.
    const std::vector<CarvingExtensionItem>& ExtensionItems() const { return items_; }
    void SetExtensionChecked(std::size_t index, bool checked);
    void SetAllExtensionsChecked(bool checked);
    // The Thorough pass after the General one ("Also perform Thorough
    // Scanning Algorithm Search"); ticked unless the user clears it.
    bool ThoroughPass() const { return thorough_; }
    void SetThoroughPass(bool on) { thorough_ = on; }

    // "Next" on page 1: checks the range again and the destination, makes
    // <destination>/<base>/<Mode> Search, (signature search: needs a ticked
    // type) and starts the search on a worker.
    CarvingStepResult StartSearch(const std::string& destinationText);
    // The same search run on the calling thread, then FinishSearch() (tests,
    // headless use).
    CarvingStepResult RunSearchHere(const std::string& destinationText);

    // The destination as typed, and the search folder (after StartSearch).
    const std::string& Destination() const { return destination_; }
    std::string SearchFolder() const;

    // ---- the search ----------------------------------------------------------------
    bool SearchRunning() const;
    // Stop Search: asks the search to stop; it still closes and lists what it carved.
    void StopSearch();
    // Whether the running search was asked to stop (by Stop Search, or by
    // itself after "Cancel Searching" or a destination that took no file).
    bool StopRequested() const;
    // After OnSearchEnded: joins the worker (which is leaving) and takes the
    // end state. False when there is nothing to finish (no search started, or
    // this one was finished already).
    bool FinishSearch();
    // Whether a search has run to its end on this page, and how: 1 stopped
    // (or cancelled, or failed), 0 the whole range searched.
    bool SearchEnded() const { return ended_; }
    int Finished() const { return finished_; }
    // The failure that ended a search early (empty when none).
    const std::string& ErrorText() const { return error_; }

    // What the dialog's timer and lists read (null / empty before a search).
    const CarvingCounters* Counters() const;
    // The signature search's file-type list: one row per ticked type.
    std::vector<CarvingTypeRow> TypeRows() const;
    // Both searches: per extension, the files carved in the whole search.
    std::vector<ExtensionFolderRow> ExtensionRows() const;

    // "Back": what it does depends on the step. Refused while a search runs.
    enum class BackStep { Refused, ToDestination, ToDrive, ToMainWindow };
    BackStep Back();

    // Stops a running search and waits for it (closing the dialog).
    void StopAll();

private:
    class Reports;

    CarvingStepResult PrepareSearch(const std::string& destinationText);
    CarvingStepResult FillExtensionItems();
    void BuildSummary(const CarvingDriveInput& in, const std::string& kind);
    void CountCarvedFile(const CarvedFile& file);

    const int recoveryMode_;
    std::string modeText_;
    std::unique_ptr<Reports> reports_;   // outlives the job (declared first)
    std::unique_ptr<CarvingSearchJob> job_;

    std::string signatureFolder_;
    std::optional<PhotoSignatureLists> photoLists_;
    std::string baseName_;
    CarvingSearchRequest defaults_;

    int step_ = 0;
    std::uint64_t searchStart_ = 0, searchEnd_ = 0;
    std::string devicePath_;
    int currentDisk_ = -1;
    bool viaDisk_ = false;
    std::vector<CarvingSummaryRow> summary_;
    std::vector<CarvingExtensionItem> items_;
    std::optional<SignatureDataFile> generalFile_, thoroughFile_;
    bool thorough_ = true;
    std::string destination_;

    mutable std::mutex rowsMutex_;   // guards typeRows_ (the worker writes, the GUI reads)
    std::vector<CarvingTypeRow> typeRows_;

    bool ended_ = false;
    int finished_ = 0;
    std::string error_;
};

// Parses a sector number as the range edits hold it: decimal digits, blanks
// around them allowed. nullopt for anything else (or a number past 2^64 - 1).
std::optional<std::uint64_t> ParseSectorText(std::string_view text);

// The signature data files of a mode: {"QOVVideo.dll", "QOVVideoAdv.dll"}
// for "Video", the signature pair for "Signature" and "Raw"; empty names for
// any other mode text.
std::pair<std::string, std::string> SignatureFilesOfMode(const std::string& modeText);

}  // namespace torvane
