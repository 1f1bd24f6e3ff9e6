#include "app/ui/shell_links.h"

#include "app/message_dialog.h"
#include "base/program_state.h"
#include "app/search_dialog.h"
#include "app/start_up.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

namespace torvane {

void ShellOpen(QWidget* owner, int mode, const QString& target)
{
    if (mode == 1) {
        // The links are already %-escaped (the support mail body): keep them.
        QUrl url = QUrl::fromEncoded(target.toUtf8(), QUrl::TolerantMode);
        if (!url.isValid()) url = QUrl(target);
        // Without a browser or mail program nothing would happen at all.
        if (!QDesktopServices::openUrl(url))
            ShowMessage(owner, QStringLiteral("No program could be started to open \"%1\".\n\nSet up a default web "
                                              "browser and mail program for the desktop, or open the address "
                                              "yourself.").arg(target));
        return;
    }
    const QFileInfo info(target);
    if (!info.exists()) {
        ShowMessage(owner, QStringLiteral("Does not exist."));
        return;
    }
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())))
        return;
    // No application takes the file: show it in its folder instead, and say
    // so when not even a file manager is there.
    if (info.isDir() || !QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath())))
        ShowMessage(owner, QStringLiteral("No program could be started to open \"%1\".\n\nSet up a default "
                                          "application for it on the desktop, or open it yourself.")
                               .arg(info.absoluteFilePath()));
}

QString ProgramFolder()
{
    const QString dir = QCoreApplication::applicationDirPath();
    return dir.isEmpty() ? QStringLiteral("/") : dir;
}

void OpenHelpFile()
{
    ShellOpen(MainWindowWidget(), 0, QString::fromStdString(HelpFilePath(ProgramFolder().toStdString())));
}

bool CopyTextToClipboard(const QString& text)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(text);
    return true;
}

void CopySupportEmail()
{
    CopyTextToClipboard(QString::fromStdString(ProgramState::Instance().Contacts.SupportEmailText));
    ShowMessage(nullptr, QStringLiteral("Text copied successfully."));
}

void CopyWebsiteLink()
{
    CopyTextToClipboard(QString::fromStdString(ProgramState::Instance().Contacts.WebsiteLink));
    ShowMessage(nullptr, QStringLiteral("Text copied successfully."));
}

void SendSupportMail()
{
    ShellOpen(MainWindowWidget(), 1, QString::fromStdString(ProgramState::Instance().Contacts.SupportMailLink));
}

void OpenWebsiteLink()
{
    ShellOpen(MainWindowWidget(), 1, QString::fromStdString(ProgramState::Instance().Contacts.WebsiteLink));
}

void OpenReviewPage()
{
    ShellOpen(MainWindowWidget(), 1, QString::fromStdString(ProgramState::Instance().Contacts.ReviewLink));
}

void OpenResellerMailLink()
{
    ShellOpen(MainWindowWidget(), 1, QString::fromStdString(ProgramState::Instance().Contacts.ResellerMailtoLink));
}

}  // namespace torvane
