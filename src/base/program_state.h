// Program-wide state: the current search mode, the edition profile, the
// message and contact texts every dialog shows, and a few shared values.
// What a scan finds lives in its dialog's search session, not here.
//
// All of it lives in one ProgramState object (ProgramState::Instance() for
// the program; tests build their own). Values that several threads read
// while another writes them are atomics or sit behind a lock. Dialog and
// thread handles are not here: they belong to the GUI.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>


namespace torvane {

// ---- search modes ----------------------------------------------------------

// The code of the current search (the RecoveryMode value).
enum RecoveryModeCode : int {
    kModeNone = 0,
    kModeBasic = 1,      // Basic Search
    kModeDeep = 2,       // Deep Search
    kModePhoto = 3,      // Photo Search
    kModeVideo = 4,      // Video Search (signature dialog, mode text "Video")
    kModeSignature = 5,  // signature search (mode text SignatureModeText)
};

// "Basic Search", "Deep Search", "Photo Search", "Video Search", and
// signatureModeText + " Search" for mode 5; empty for any other code.
std::string RecoveryModeText(int recoveryMode, std::string_view signatureModeText = "Signature");

// ---- edition profile -------------------------------------------------------

// The one edition of the program, fixed at build time.
struct EditionProfile {
    int EnablePhotoSearch = 1;      // the photo signature pair must open at start-up
    int EnableVideoSearch = 0;      // the video pair is not checked at start-up
    int EnableSignatureSearch = 1;  // the "Sig" pair must open at start-up
    int ListAllDriveTypes = 1;      // list fixed disks and all drive types
    int ReviewPromptFlag = 1;       // show the Review button and the review prompt at exit

    // Extension of scan-log files, without the dot.
    std::string_view ScanLogExtension = "VQL";
    // The six signature data files, in this order: photo General, photo
    // Advance, video General, video Advance, signature General, signature
    // Advance. Each lies in the program's folder (join with a separator).
    std::array<std::string_view, 6> SignatureFileNames = {
        "QOVExt2.dll", "QOVExt2Adv.dll", "QOVVideo.dll", "QOVVideoAdv.dll", "QOVSig.dll", "QOVSigAdv.dll",
    };
    // The product caption: the product name, a blank, the edition word in parentheses.
    std::string_view ProgramDisplayName = "Torvane (Freeware)";
};

inline constexpr EditionProfile kEditionProfile{};

// Indices into EditionProfile::SignatureFileNames.
enum SignatureFileIndex : int {
    kPhotoGeneralFile = 0,
    kPhotoAdvanceFile = 1,
    kVideoGeneralFile = 2,
    kVideoAdvanceFile = 3,
    kSigGeneralFile = 4,
    kSigAdvanceFile = 5,
};

// "Scanning Log File (*.%s)|*.%s|" with the extension in both places.
std::string BuildScanLogFileFilter(std::string_view scanLogExtension);

// ---- texts -------------------------------------------------------------------

// The message texts every dialog shows ("\n" is a line break).
struct SharedMessageTexts {
    std::string ScanRunningStopHintText;
    std::string ScanRunningSaveDataText;
    std::string ScanRunningSaveLogText;
    std::string SaveLogBeforeScanText;
    std::string InvalidScanLogText;
    std::string SaveDestinationFailedText;
    std::string SectorRangeHelpText;
    std::string SelectPhysicalDriveText;
    std::string DriveUnavailableText;
    std::string StopSearchQuestionText;
    std::string StopPartitionSearchQuestionText;
    std::string ExitQuestionText;  // holds the display name it was built with
    std::string EndSectorOrderText;
    std::string SelectDriveText;
    std::string RefreshDuringScanText;
    std::string OriginalMediaMovedText;
    std::string SaveLogQuestionText;
    std::string SelectDriveScanNowText;
    std::string SelectDriveNextText;
    std::string SelectFilesToSaveText;
    std::string ViewRecoveredDataText;
    std::string StopRecoveryHintText;
    std::string CarvingCompletionText;  // empty here; the carving code builds it
    std::string StopSearchAdviceText;
    std::string StopSavingAdviceText;
};

SharedMessageTexts BuildSharedMessageTexts(std::string_view programDisplayName);

// Addresses and links of the maker.
struct ContactTexts {
    std::string SupportEmailText;    // the support address
    std::string SupportMailLink;     // mailto: link with subject and body
    std::string WebsiteLink;         // the web site
    std::string ReviewLink;          // the review page
    std::string ResellerMailLink;    // mailto: link for partnership enquiries
    std::string ResellerMailtoLink;  // plain mailto: of the reseller address
};

inline constexpr std::string_view kSupportEmailAddress = "support@torvane.example";
inline constexpr std::string_view kResellerEmailAddress = "partners@torvane.example";
inline constexpr std::string_view kWebsiteLink = "https://www.torvane.example/";
inline constexpr std::string_view kReviewLink = "https://www.torvane.example/review";

// The support mail link: "mailto:" + address + "?subject=" + name +
// " Question&body=..." with the fixed body, then every "\r\n" replaced by
// "%0A", every blank by "%20" and every double quote by "%22".
std::string BuildSupportMailLink(std::string_view supportEmail, std::string_view programDisplayName);
ContactTexts BuildContactTexts(std::string_view programDisplayName);

// ---- the state -----------------------------------------------------------------

// End-of-search notice states (BasicEndNoticeState / DeepEndNoticeState).
enum EndNoticeState : int {
    kEndNoticeNone = 0,     // set by "Scan Now"
    kEndNoticeEmpty = 1,    // the scan ended with an empty results tree
    kEndNoticeShown = 2,    // the end-of-search box has opened
};

// A text that one thread sets and another reads.
class GuardedText {
public:
    std::string Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    void Set(std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ = std::move(text);
    }
    void Clear() { Set({}); }
    bool Empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_.empty();
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

// The temporary folder: $TMPDIR when it is set to an absolute path, else
// "/tmp"; always ending with "/".
std::string DefaultTempFolderPath();

class ProgramState {
public:
    ProgramState();
    ProgramState(const ProgramState&) = delete;
    ProgramState& operator=(const ProgramState&) = delete;

    // The program's one instance.
    static ProgramState& Instance();

    // Edition profile and texts (fixed after construction).
    const EditionProfile& Profile = kEditionProfile;
    static constexpr bool DebugMode = false;  // no debug display anywhere
    const std::string ProgramDisplayName;
    const std::string ScanLogFileFilter;
    const std::string SignatureModeText;  // "Signature", the mode text of mode 5
    const ContactTexts Contacts;
    // Built once; CarvingCompletionText is written by the carving code on
    // the GUI thread.
    SharedMessageTexts Messages;

    // The search in progress (RecoveryModeCode); 0 while no search dialog is open.
    std::atomic<int> RecoveryMode{kModeNone};

    // Scan-log path to open next (command line or "Load Log").
    GuardedText PendingScanLogPath;
    // Where temporary extracted files go.
    const std::string TempFolderPath;

    // Counts shown in the status line.
    std::atomic<std::uint64_t> StatusFileCount{0};
    std::atomic<std::uint64_t> StatusFolderCount{0};

    // End-of-search notice states (EndNoticeState).
    std::atomic<int> BasicEndNoticeState{kEndNoticeNone};
    std::atomic<int> DeepEndNoticeState{kEndNoticeNone};

    // Mode text of the current RecoveryMode.
    std::string CurrentModeText() const { return RecoveryModeText(RecoveryMode.load(), SignatureModeText); }
};

}  // namespace torvane
