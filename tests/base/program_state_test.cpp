#include "base/program_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace torvane {
namespace {

TEST(ProgramState, EditionProfile) {
    ProgramState s;
    EXPECT_EQ(s.Profile.EnablePhotoSearch, 1);
    EXPECT_EQ(s.Profile.EnableVideoSearch, 0);
    EXPECT_EQ(s.Profile.EnableSignatureSearch, 1);
    EXPECT_EQ(s.Profile.ListAllDriveTypes, 1);
    EXPECT_EQ(s.Profile.ReviewPromptFlag, 1);
    EXPECT_EQ(s.Profile.ScanLogExtension, "VQL");
    EXPECT_EQ(s.ScanLogFileFilter, "Scanning Log File (*.VQL)|*.VQL|");
    EXPECT_EQ(s.Profile.SignatureFileNames[kPhotoGeneralFile], "QOVExt2.dll");
    EXPECT_EQ(s.Profile.SignatureFileNames[kPhotoAdvanceFile], "QOVExt2Adv.dll");
    EXPECT_EQ(s.Profile.SignatureFileNames[kVideoGeneralFile], "QOVVideo.dll");
    EXPECT_EQ(s.Profile.SignatureFileNames[kVideoAdvanceFile], "QOVVideoAdv.dll");
    EXPECT_EQ(s.Profile.SignatureFileNames[kSigGeneralFile], "QOVSig.dll");
    EXPECT_EQ(s.Profile.SignatureFileNames[kSigAdvanceFile], "QOVSigAdv.dll");
    // "Torvane", a blank, an edition word in parentheses.
    const std::string name = s.ProgramDisplayName;
    EXPECT_EQ(name.rfind("Torvane (", 0), 0u);
    EXPECT_EQ(name.back(), ')');
    EXPECT_EQ(s.SignatureModeText, "Signature");
    EXPECT_FALSE(ProgramState::DebugMode);
}

TEST(ProgramState, ModeTexts) {
    EXPECT_EQ(RecoveryModeText(kModeNone), "");
    EXPECT_EQ(RecoveryModeText(kModeBasic), "Basic Search");
    EXPECT_EQ(RecoveryModeText(kModeDeep), "Deep Search");
    EXPECT_EQ(RecoveryModeText(kModePhoto), "Photo Search");
    EXPECT_EQ(RecoveryModeText(kModeVideo), "Video Search");
    EXPECT_EQ(RecoveryModeText(kModeSignature), "Signature Search");
    EXPECT_EQ(RecoveryModeText(kModeSignature, "Raw"), "Raw Search");
    ProgramState s;
    EXPECT_EQ(s.RecoveryMode.load(), kModeNone);
    s.RecoveryMode = kModePhoto;
    EXPECT_EQ(s.CurrentModeText(), "Photo Search");
}

TEST(ProgramState, MessageTexts) {
    const SharedMessageTexts t = BuildSharedMessageTexts("Torvane (Test)");
    EXPECT_EQ(t.ExitQuestionText, "Do you want to exit from Torvane (Test)?");
    EXPECT_EQ(t.StopSearchQuestionText, "Do you want to stop searching?");
    EXPECT_EQ(t.SelectDriveText, "Please select the Drive from which you want to recover data.");
    EXPECT_EQ(t.SaveDestinationFailedText,
              "Unable to continue saving recovered data.\n\nEither Destination Drive is inaccessible.\n\nOR\n\nThere "
              "is no free space available in drive to save recovered data.");
    EXPECT_EQ(t.SelectFilesToSaveText.front(), '\n');
    EXPECT_TRUE(t.CarvingCompletionText.empty());
    // Every fixed text is present.
    for (const std::string* text :
         {&t.ScanRunningStopHintText, &t.ScanRunningSaveDataText, &t.ScanRunningSaveLogText, &t.SaveLogBeforeScanText,
          &t.InvalidScanLogText, &t.SectorRangeHelpText, &t.SelectPhysicalDriveText, &t.DriveUnavailableText,
          &t.StopPartitionSearchQuestionText, &t.EndSectorOrderText, &t.RefreshDuringScanText,
          &t.OriginalMediaMovedText, &t.SaveLogQuestionText, &t.SelectDriveScanNowText, &t.SelectDriveNextText,
          &t.ViewRecoveredDataText, &t.StopRecoveryHintText, &t.StopSearchAdviceText, &t.StopSavingAdviceText}) {
        EXPECT_FALSE(text->empty());
    }
    ProgramState s;
    EXPECT_EQ(s.Messages.ExitQuestionText, "Do you want to exit from " + s.ProgramDisplayName + "?");
}

TEST(ProgramState, SupportMailLinkIsEscaped) {
    const std::string link = BuildSupportMailLink("help@x.example", "Torvane (Pro)");
    EXPECT_EQ(link.rfind("mailto:help@x.example?subject=Torvane%20(Pro)%20Question&body=Dear%20Customer%20Support,"
                         "%0A%0AI%20am%20having%20Difficulties%20in%20using%20Torvane%20(Pro).%20%0A%0AMy%20Order%20ID",
                         0),
              0u);
    EXPECT_EQ(link.find(' '), std::string::npos);
    EXPECT_EQ(link.find('"'), std::string::npos);
    EXPECT_NE(link.find("(Required):%20%20%0A"), std::string::npos);
    const std::string tail = "More%20Details%20of%20problem%20with%20screenshot%20(if%20any):%20%0A";
    ASSERT_GT(link.size(), tail.size());
    EXPECT_EQ(link.substr(link.size() - tail.size()), tail);
    // A quote or a line break in the name is escaped as well.
    const std::string odd = BuildSupportMailLink("a@b", "T \"Q\"\r\n");
    EXPECT_NE(odd.find("subject=T%20%22Q%22%0A%20Question"), std::string::npos);

    ProgramState s;
    EXPECT_EQ(s.Contacts.SupportEmailText, std::string(kSupportEmailAddress));
    EXPECT_EQ(s.Contacts.SupportMailLink, BuildSupportMailLink(kSupportEmailAddress, s.ProgramDisplayName));
    EXPECT_EQ(s.Contacts.ResellerMailtoLink, "mailto:" + std::string(kResellerEmailAddress));
    EXPECT_NE(s.Contacts.ResellerMailLink.find("subject=Affiliate/Partnership%20Enquiry"), std::string::npos);
    EXPECT_FALSE(s.Contacts.WebsiteLink.empty());
    EXPECT_FALSE(s.Contacts.ReviewLink.empty());
}


TEST(ProgramState, SharedValues) {
    ProgramState s;
    EXPECT_EQ(s.StatusFileCount.load(), 0u);
    EXPECT_EQ(s.StatusFolderCount.load(), 0u);
    EXPECT_EQ(s.BasicEndNoticeState.load(), kEndNoticeNone);
    EXPECT_EQ(s.DeepEndNoticeState.load(), kEndNoticeNone);
    EXPECT_TRUE(s.PendingScanLogPath.Empty());
    s.PendingScanLogPath.Set("/home/u/my log.VQL");
    EXPECT_EQ(s.PendingScanLogPath.Get(), "/home/u/my log.VQL");
    s.PendingScanLogPath.Clear();
    EXPECT_TRUE(s.PendingScanLogPath.Empty());
    EXPECT_FALSE(s.TempFolderPath.empty());
    EXPECT_EQ(s.TempFolderPath.back(), '/');
    EXPECT_EQ(&ProgramState::Instance(), &ProgramState::Instance());
}

TEST(ProgramState, TempFolderFromEnvironment) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", "/var/tmp/x", 1);
    EXPECT_EQ(DefaultTempFolderPath(), "/var/tmp/x/");
    setenv("TMPDIR", "relative", 1);
    EXPECT_EQ(DefaultTempFolderPath(), "/tmp/");
    unsetenv("TMPDIR");
    EXPECT_EQ(DefaultTempFolderPath(), "/tmp/");
    if (old) setenv("TMPDIR", saved.c_str(), 1);
}

}  // namespace
}  // namespace torvane
