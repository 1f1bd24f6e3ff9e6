// Handing things to the desktop: opening files and links, the help manual,
// and copying contact texts to the clipboard.
#pragma once

#include <QString>

class QWidget;

namespace torvane {

// Opens `target` with the desktop. Mode 1: a web or mail link (handed over as
// it is, its %-escapes kept). Mode 0: a file by path; a path that does not
// exist shows "Does not exist." and opens nothing; when no application opens
// the file, its folder is opened instead.
void ShellOpen(QWidget* owner, int mode, const QString& target);

// Opens the help manual beside the program.
void OpenHelpFile();

// Puts `text` on the clipboard as plain text; always true.
bool CopyTextToClipboard(const QString& text);

// Button handlers shared by the main window and the information dialogs.
void CopySupportEmail();    // copies the support address, "Text copied successfully."
void CopyWebsiteLink();     // copies the web site link, "Text copied successfully."
void SendSupportMail();     // opens the support mail link
void OpenWebsiteLink();     // opens the web site
void OpenReviewPage();      // opens the review page
void OpenResellerMailLink();

// The folder of the running program (where the help manual and the signature
// data files lie).
QString ProgramFolder();

}  // namespace torvane
