#include "results/scan_log_dialog.h"

#include "app/main_window.h"
#include "app/message_dialog.h"
#include "app/search_dialog.h"
#include "base/program_state.h"
#include "results/scan_log_reader.h"

#include <QFileDialog>
#include <QWidget>

#include <atomic>
#include <mutex>

namespace torvane {
namespace {

std::mutex g_mutex;
std::function<QString(QWidget*)> g_askSave;
std::function<QString(QWidget*)> g_askOpen;
std::atomic<bool> g_deepLoadsLogs{false};

void Install();
// The shell finds the service set as soon as the scan-log code is part of the program.
const bool kScanLogServicesInstalled = (Install(), true);

QString Extension()
{
    const std::string_view e = ProgramState::Instance().Profile.ScanLogExtension;
    return QString::fromUtf8(e.data(), static_cast<int>(e.size()));
}

QString Filter()
{
    const QString e = Extension();
    return QStringLiteral("Scanning Log File (*.%1 *.%2)").arg(e, e.toLower());
}

QString DefaultAskSave(QWidget* owner)
{
    QFileDialog dialog(owner, QStringLiteral("Save Log"), QString(), Filter());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(Extension());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QString DefaultAskOpen(QWidget* owner)
{
    return QFileDialog::getOpenFileName(owner, QStringLiteral("Load Log"), QString(), Filter());
}

// Runs the dialog of `mode` with the log pending; it loads the log itself.
void RunLogDialog(int mode)
{
    ProgramState::Instance().RecoveryMode = mode;
    if (mode == kModeDeep)
        RunDeepSearchDialog();
    else
        RunBasicSearchDialog();
}

}  // namespace

QString AskScanLogSavePath(QWidget* owner)
{
    std::function<QString(QWidget*)> ask;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ask = g_askSave;
    }
    return ask ? ask(owner) : DefaultAskSave(owner);
}

void SetScanLogSavePathFunction(std::function<QString(QWidget*)> ask)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_askSave = std::move(ask);
}

QString AskScanLogOpenPath(QWidget* owner)
{
    std::function<QString(QWidget*)> ask;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ask = g_askOpen;
    }
    return ask ? ask(owner) : DefaultAskOpen(owner);
}

void SetScanLogOpenPathFunction(std::function<QString(QWidget*)> ask)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_askOpen = std::move(ask);
}

void SetDeepSearchLoadsScanLogs(bool loads)
{
    g_deepLoadsLogs = loads;
}

bool DeepSearchLoadsScanLogs()
{
    return g_deepLoadsLogs;
}

void OpenPendingScanLog(QWidget* owner)
{
    ProgramState& state = ProgramState::Instance();
    const std::string path = state.PendingScanLogPath.Get();
    if (path.empty())
        return;
    // Only the header: which search wrote the log. Its dialog reads the rest.
    const ScanLogReadResult header = PeekScanLogHeaderFile(path);
    const int mode = static_cast<int>(header.document.header.mode);
    QString refusal;
    if (header.status == ScanLogReadStatus::OpenFailed) {
        // Not a reason to end the program: say which file and why.
        refusal = QStringLiteral("The scanning log file \"%1\" cannot be opened: %2.")
                      .arg(QString::fromStdString(path), QString::fromStdString(header.detail));
    } else if (!header.loaded()) {
        refusal = QString::fromStdString(state.Messages.InvalidScanLogText);
    } else if (mode == kModeDeep && !g_deepLoadsLogs) {
        refusal = QString::fromLatin1(kDeepScanLogNotAvailableText);
    }
    if (!refusal.isEmpty()) {
        state.PendingScanLogPath.Clear();
        ShowMessage(owner, refusal);
        return;
    }
    RunLogDialog(mode);
}

void HandOverScanLog(QWidget* from, int mode, const std::string& path)
{
    ProgramState& state = ProgramState::Instance();
    if (mode == kModeDeep && !g_deepLoadsLogs) {
        ShowMessage(from, QString::fromLatin1(kDeepScanLogNotAvailableText));
        return;
    }
    const int own = state.RecoveryMode.load();
    state.PendingScanLogPath.Set(path);
    QPointer<QWidget> dialog(from);
    if (dialog)
        dialog->hide();
    RunLogDialog(mode);
    // Back in the dialog that handed the log over, at its drive selection.
    state.RecoveryMode = own;
    state.PendingScanLogPath.Clear();
    if (dialog) {
        dialog->show();
        HideMainWindow();
    }
}

namespace {

void Install()
{
    ShellServices& services = Services();
    if (!services.OpenScanLog)
        services.OpenScanLog = [](CSalvoraDlg& main) { OpenPendingScanLog(&main); };
}

}  // namespace

void InstallScanLogServices()
{
    (void)kScanLogServicesInstalled;
    Install();
}


}  // namespace torvane
