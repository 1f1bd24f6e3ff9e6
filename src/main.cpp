// Torvane: finds deleted and lost files and folders on disks, partitions,
// memory cards and disk images, and copies what the user ticks to a folder
// of their choice. Devices are only ever read.
#include "app/application_window.h"
#include "app/message_dialog.h"

#include "platform/command_line.h"

#include <QApplication>

#include <cstdio>
#include <string>

int main(int argc, char* argv[])
{
    // --help needs no display: the usage, and nothing else.
    if (torvane::WantsUsage(argc, argv)) {
        std::string name = argc > 0 && argv[0] ? argv[0] : "torvane";
        name = name.substr(name.rfind('/') + 1);
        std::fputs(torvane::UsageText(name).c_str(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    torvane::CSalvoraApp theApp;
    const int early = theApp.InitInstance(argc, argv);
    if (early >= 0) return early;
    const int code = QApplication::exec();
    return torvane::ExitRequested() ? torvane::RequestedExitCode() : code;
}
