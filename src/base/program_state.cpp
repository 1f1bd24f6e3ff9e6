#include "base/program_state.h"

#include <cstdlib>

namespace torvane {

std::string RecoveryModeText(int recoveryMode, std::string_view signatureModeText) {
    switch (recoveryMode) {
        case kModeBasic: return "Basic Search";
        case kModeDeep: return "Deep Search";
        case kModePhoto: return "Photo Search";
        case kModeVideo: return "Video Search";
        case kModeSignature: return std::string(signatureModeText) + " Search";
        default: return {};
    }
}

std::string BuildScanLogFileFilter(std::string_view ext) {
    const std::string e(ext);
    return "Scanning Log File (*." + e + ")|*." + e + "|";
}

SharedMessageTexts BuildSharedMessageTexts(std::string_view programDisplayName) {
    SharedMessageTexts t;
    t.ScanRunningStopHintText =
        "The Disk scanning process is still going on.\n\nPlease allow the scanning process to be completed or you "
        "can also stop the scanning by clicking on 'Stop Search' button.";
    t.ScanRunningSaveDataText =
        "The Disk scanning process is still going on.\n\nTo save the recovered data, please allow the scanning "
        "process to be completed.";
    t.ScanRunningSaveLogText =
        "The Disk scanning process is still going on.\n\nTo save the scanning log file of recovery, please allow the "
        "scanning process to be completed.";
    t.SaveLogBeforeScanText =
        "To save the scanning Log file of recovery, first you need to scan the drive and recover the lost data.";
    t.InvalidScanLogText =
        "The selected scanning log file is invalid. The recovery cannot continue with this log file.\n\nPlease select "
        "the drive to continue with recovery.";
    t.SaveDestinationFailedText =
        "Unable to continue saving recovered data.\n\nEither Destination Drive is inaccessible.\n\nOR\n\nThere is no "
        "free space available in drive to save recovered data.";
    t.SectorRangeHelpText =
        "'Sector Range' option provides the facility to choose the range of Start and End sectors of storage media to "
        "recover lost data.\n\nPlease drag Left and Right edges of Slider to enter sector range.\n\nYou can also enter "
        "these values manually.";
    t.SelectPhysicalDriveText = "Please select the Physical Drive to search deleted or missing Partitions.";
    t.DriveUnavailableText =
        "Selected drive may not available for recovery. Please check drive is properly connected.";
    t.StopSearchQuestionText = "Do you want to stop searching?";
    t.StopPartitionSearchQuestionText = "Do you want to stop searching partition?";
    t.ExitQuestionText = "Do you want to exit from " + std::string(programDisplayName) + "?";
    t.EndSectorOrderText = "The value of 'End Sector' should be greater than 'Start Sector' of the Drive.";
    t.SelectDriveText = "Please select the Drive from which you want to recover data.";
    t.RefreshDuringScanText =
        "Disk scanning process is in progress.\n\nYou can refresh the list of Drives only before starting the "
        "scanning process.";
    t.OriginalMediaMovedText =
        "Original Media has been moved or removed.\n\nThe drive from which selected scanning Log file was saved, "
        "seems to be moved or disconnected. Recovery for selected drive cannot continue with this log file. Please "
        "select the correct drive from tree and continue with recovery.";
    t.SaveLogQuestionText =
        "Do you want to save scanning log file?\n\nYou can use the scanning log to directly load the recovery results "
        "without scanning the drive again.";
    t.SelectDriveScanNowText =
        "Please select the Drive from which you want to recover data.\nIn case of Deleted or missing Partitions, click "
        "on 'Search More Partitions' button to find lost drives.\nSelect the Drive and click on 'Scan Now' button to "
        "continue...";
    t.SelectDriveNextText =
        "Please select the Drive from which you want to recover data.\nIn case of Deleted or missing Partitions, click "
        "on 'Search More Partitions' button to find lost drives.\nSelect the Drive and click on 'Next' button to "
        "continue...";
    t.SelectFilesToSaveText =
        "\nPlease Select the Files and Folders and Click on 'Save Data' button to recover your data.";
    t.ViewRecoveredDataText =
        "To view the recovered Data, please click on 'Open Containing Folder' button. Or\nClick on 'Back' button to "
        "select another disk for recovery.";
    t.StopRecoveryHintText =
        "\nTo Stop recovery, click on 'Stop Search' button or please wait for the process to be completed.";
    t.StopSearchAdviceText =
        "You can stop searching Files and Folders by clicking on 'Stop Search' button.\nHowever, it is strongly "
        "recommended that you should allow the software to complete the searching Process.";
    t.StopSavingAdviceText =
        "To stop saving Data press 'Stop' button or Please wait for the process to be completed. It is strongly "
        "recommended that you should allow the software to complete the saving of Data.";
    return t;
}

namespace {

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    std::size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

// Blanks, line breaks and quotes cannot stand in a mail link as they are.
std::string EscapeMailLink(std::string link) {
    link = ReplaceAll(std::move(link), "\r\n", "%0A");
    link = ReplaceAll(std::move(link), " ", "%20");
    return ReplaceAll(std::move(link), "\"", "%22");
}

}  // namespace

std::string BuildSupportMailLink(std::string_view supportEmail, std::string_view programDisplayName) {
    const std::string name(programDisplayName);
    std::string link = "mailto:" + std::string(supportEmail) + "?subject=" + name +
                       " Question&body=Dear Customer Support,%0A%0AI am having Difficulties in using " + name +
                       ". %0A%0AMy Order ID is (Required):  %0A%0AMy Operating system is: %0A%0AI am using following "
                       "security/Antivirus/Firewall Software in My Machine: %0A%0AThe Hardware Configuration details "
                       "of My Machine in which I am running the software are: %0A%0A%0AThe details of my Storage "
                       "media (from which I am trying to recover data) are as follows: %0AMedia Type: %0AStorage "
                       "Capacity: %0AManufacturer: %0A%0APossible cause of Data Loss (if known): %0AError message (if "
                       "any): %0A%0AMore Details of problem with screenshot (if any): %0A";
    return EscapeMailLink(std::move(link));
}

ContactTexts BuildContactTexts(std::string_view programDisplayName) {
    ContactTexts c;
    c.SupportEmailText = std::string(kSupportEmailAddress);
    c.SupportMailLink = BuildSupportMailLink(kSupportEmailAddress, programDisplayName);
    c.WebsiteLink = std::string(kWebsiteLink);
    c.ReviewLink = std::string(kReviewLink);
    c.ResellerMailtoLink = "mailto:" + std::string(kResellerEmailAddress);
    c.ResellerMailLink = EscapeMailLink(c.ResellerMailtoLink +
                                        "?subject=Affiliate/Partnership Enquiry&body=Dear Partnership Team,%0A%0A"
                                        "I would like to know more about partnering with " +
                                        std::string(programDisplayName) + ".%0A%0A");
    return c;
}

// ---- the state -----------------------------------------------------------------

std::string DefaultTempFolderPath() {
    const char* env = std::getenv("TMPDIR");
    std::string path = (env != nullptr && env[0] == '/') ? std::string(env) : std::string("/tmp");
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

ProgramState::ProgramState()
    : ProgramDisplayName(kEditionProfile.ProgramDisplayName),
      ScanLogFileFilter(BuildScanLogFileFilter(kEditionProfile.ScanLogExtension)),
      SignatureModeText("Signature"),
      Contacts(BuildContactTexts(ProgramDisplayName)),
      Messages(BuildSharedMessageTexts(ProgramDisplayName)),
      TempFolderPath(DefaultTempFolderPath()) {}

ProgramState& ProgramState::Instance() {
    // Never destroyed: workers may still be reading it while the process ends.
    static ProgramState* const instance = new ProgramState();
    return *instance;
}

}  // namespace torvane
