// Scan logs in the shell: the file dialogs that choose a log to write or to
// load, and opening a log without a search dialog (the command line, a file
// opened from the desktop, the main window's "Load Log"): the log's header
// says which search wrote it, and that search's dialog runs and loads it.
#pragma once

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace torvane {

class CSalvoraDlg;

// The file dialog of "Save Log" (the extension added when the name has
// none; an existing file is replaced after a question); empty when
// cancelled. Tests put their own function in place.
QString AskScanLogSavePath(QWidget* owner);
void SetScanLogSavePathFunction(std::function<QString(QWidget*)> ask);

// The file dialog of "Load Log"; empty when cancelled.
QString AskScanLogOpenPath(QWidget* owner);
void SetScanLogOpenPathFunction(std::function<QString(QWidget*)> ask);

// Opens the log named in ProgramState::PendingScanLogPath: a file that
// cannot be read, is no scan log or names no known search gives its message
// (and the path is forgotten); a Basic log runs the Basic dialog, which
// loads it, and returns when that dialog has closed. The shell's OpenScanLog
// service. Returns at once when no path is pending.
void OpenPendingScanLog(QWidget* owner);

// A dialog's loader met a log of the other search (`mode` 1 Basic, 2 Deep):
// runs that search's dialog with the log pending, hiding `from` meanwhile.
void HandOverScanLog(QWidget* from, int mode, const std::string& path);

// Whether the Deep Search dialog loads scan logs (set by that dialog once it
// does); until then a Deep log is refused with kDeepScanLogNotAvailableText.
void SetDeepSearchLoadsScanLogs(bool loads);
bool DeepSearchLoadsScanLogs();
inline constexpr char kDeepScanLogNotAvailableText[] =
    "This scanning log file was saved by Deep Search, which cannot load scanning logs in this version yet.";

// Sets the shell's OpenScanLog service (done once, before the main window
// opens).
void InstallScanLogServices();

}  // namespace torvane
