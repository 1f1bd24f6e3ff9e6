#include "support/gui_support.h"

#include "disk/device_events.h"
#include "disk/drive_inventory.h"
#include "disk/drive_refresh.h"
#include "disk/drive_tree_view.h"
#include "platform/device_registry.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QSignalSpy>

namespace torvane::test {

BoxAnswerer::BoxAnswerer(int intervalMs)
{
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w)
            return;
        if (handler && handler(w))
            return;
        ++answered;
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            texts << box->text();
            QAbstractButton* no = box->button(QMessageBox::No);
            if (sayNo && no)
                no->click();
            else if (QAbstractButton* yes = box->button(QMessageBox::Yes))
                yes->click();
            else
                box->accept();
        } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
            dialogs << QString::fromLatin1(dialog->metaObject()->className());
            dialog->accept();
        }
    });
    timer_.start();
}

std::shared_ptr<DriveInventory> RegistryInventory(int mode, bool withLogical)
{
    auto inv = std::make_shared<DriveInventory>();
    inv->RecoveryMode = mode;
    DriveRefreshOptions options;
    options.WithLogicalDrives = withLogical;
    options.RefreshRegistry = false;
    options.Logical.MountInfoPath = "/nonexistent/mountinfo";
    BuildDriveInventory(*inv, DeviceRegistry::Instance(), options);
    return inv;
}

void PrepareDrivePanel(CDriveTreeView* panel)
{
    panel->SetDeviceEventSource(std::make_unique<ManualDeviceEventSource>());
    panel->SetShowLogicalNote(false);
    panel->SetInventoryBuilder(RegistryInventory);
}

bool RefreshDrives(CDriveTreeView* panel, int timeoutMs)
{
    QSignalSpy done(panel, &CDriveTreeView::refreshFinished);
    panel->RefreshDriveTree();
    return done.wait(timeoutMs);
}

}  // namespace torvane::test
