// Torvane: finds deleted and lost files and folders on disks, partitions,
// memory cards and disk images, and copies what the user ticks to a folder
// of their choice. Devices are only ever read.
#include "app/application_window.h"
#include "app/message_dialog.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    torvane::CSalvoraApp theApp;
    const int early = theApp.InitInstance(argc, argv);
    if (early >= 0) return early;
    const int code = QApplication::exec();
    return torvane::ExitRequested() ? torvane::RequestedExitCode() : code;
}
