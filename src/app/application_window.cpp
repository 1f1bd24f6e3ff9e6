#include "app/application_window.h"

#include "app/main_window.h"
#include "app/message_dialog.h"
#include "base/program_state.h"
#include "app/search_dialog.h"
#include "app/start_up.h"
#include "app/ui/shell_links.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/xp_style_button.h"
#include "carving/signature_file.h"
#include "platform/command_line.h"
#include "platform/file_association.h"
#include "results/scan_log_dialog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPalette>

#include <cstdio>

namespace torvane {
namespace {

CSalvoraApp* g_app = nullptr;

// The folder that holds the signature data files: beside the program, else
// the installed data folder (<prefix>/share/torvane).
std::string FindSignatureFolder(const std::string& programFolder, const std::string& firstName)
{
    const std::string candidates[] = {programFolder, programFolder + "/../share/torvane"};
    for (const std::string& folder : candidates) {
        if (QFileInfo::exists(QString::fromStdString(SignatureFilePath(folder, firstName))))
            return QDir::cleanPath(QString::fromStdString(folder)).toStdString();
    }
    return programFolder;
}

}  // namespace

CSalvoraApp* AppObjectPtr()
{
    return g_app;
}

CSalvoraApp::CSalvoraApp()
{
    g_app = this;
}

CSalvoraApp::~CSalvoraApp()
{
    m_pMainWnd.reset();
    if (g_app == this) g_app = nullptr;
}

int CSalvoraApp::InitInstance(int argc, char** argv)
{
    ProgramState& state = ProgramState::Instance();
    QApplication::setApplicationName(QStringLiteral("torvane"));
    // No application display name: Qt would append it to every caption
    // ("Message — Torvane"), and the captions are the program's own texts.
    QGuiApplication::setDesktopFileName(QStringLiteral("torvane"));
    QApplication::setWindowIcon(ProgramIcon());
    // The program ends only through its exit sequence, never because its
    // last visible window went away (the main window hides behind a search).
    QApplication::setQuitOnLastWindowClosed(false);

    // The shared dialog background and fonts.
    QPalette pal = QApplication::palette();
    pal.setColor(QPalette::Window, QColor(242, 242, 242));
    QApplication::setPalette(pal);
    CreateSharedFonts();

    // The scan-log file type, registered for this user once per start.
    const std::string exePath = QApplication::applicationFilePath().toStdString();
    const std::string extension(state.Profile.ScanLogExtension);
    const AssociationResult association = RegisterScanLogAssociation(exePath, state.ProgramDisplayName, extension);
    if (!association.ok) {
        std::fprintf(stderr, "torvane: %s\n", association.error.c_str());
        QMessageBox::information(nullptr, QStringLiteral("Message"),
                                 QStringLiteral("Could not create or open a registry key for log file association."));
    }

    // Device options first (disk images listed as disks), then the scan-log
    // path from what remains.
    const DeviceOptionsResult devices = ApplyDeviceOptions(argc, argv);
    for (const std::string& error : devices.errors) std::fprintf(stderr, "torvane: %s\n", error.c_str());
    if (!devices.errors.empty()) {
        QString text;
        for (const std::string& error : devices.errors) text += QString::fromStdString(error) + QLatin1Char('\n');
        QMessageBox::information(nullptr, QStringLiteral("Message"), text.trimmed());
    }
    std::vector<std::string> positional;
    if (devices.remainingArgs.size() > 1) positional.assign(devices.remainingArgs.begin() + 1, devices.remainingArgs.end());
    state.PendingScanLogPath.Set(ParsePendingScanLogPath(positional));
    // Deep Search logs load into the Deep dialog like Basic ones into theirs.
    SetDeepSearchLoadsScanLogs(true);

    // The signature data files: the photo lists, and every file of the
    // enabled searches must open.
    SignatureFileSet files;
    for (std::size_t i = 0; i < files.names.size(); ++i) files.names[i] = std::string(state.Profile.SignatureFileNames[i]);
    files.executablePath = exePath;
    files.folder = FindSignatureFolder(ProgramFolder().toStdString(), files.names[0]);
    files.photo = state.Profile.EnablePhotoSearch != 0;
    files.video = state.Profile.EnableVideoSearch != 0;
    files.signature = state.Profile.EnableSignatureSearch != 0;
    m_signatureFolder = files.folder;
    const SignatureLoadResult signatures = LoadSignatureFiles(files, SharedPhotoSignatures());
    if (!signatures.ok) {
        std::fprintf(stderr, "torvane: %s\n", signatures.message.c_str());
        // A plain box (OK, no icon) captioned with the program's title.
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Torvane"),
                        QString::fromStdString(signatures.message), QMessageBox::Ok);
        box.setObjectName(QStringLiteral("SignatureFileMessage"));
        box.exec();
        // A missing data file is a failed start, not a success.
        return 1;
    }

    // This run's temporary extracts go with the exit sequence.
    ShutdownRegistry::Instance().AddCleanup("delete temporary extracted files", [] { DeleteTempExtractedFiles(); });

    m_pMainWnd = std::make_unique<CSalvoraDlg>();
    m_pMainWnd->OnInitDialog();
    if (ExitRequested()) return RequestedExitCode();
    m_pMainWnd->show();
    return -1;
}

}  // namespace torvane
