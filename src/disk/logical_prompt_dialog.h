// The two small prompts about logical drives.
//
// CLogicalDlg asks, when a logical drive is to be scanned, whether to scan it
// through the volume itself ("Perform Logical Scan") or through its partition
// on the physical disk ("Perform Physical Scan"). On this system a volume on
// LVM, device-mapper (dm-crypt) or md RAID has no single extent on a disk: it
// is what the prompt calls a dynamic volume, and only the logical scan reads
// it as the file system sees it.
//
// CLogical_Drive_Select_Dlg is the note shown when "Show Logical Drives" is
// ticked (and by the button beside it).
#pragma once

#include <QDialog>

namespace torvane {

class CColorStatic;

class CLogicalDlg : public QDialog {
    Q_OBJECT
public:
    // The results of exec(): "Perform Logical Scan" 1, "Perform Physical
    // Scan" (and Escape, the close box) 2, "Cancel" 0.
    enum Result { kCancel = 0, kLogicalScan = 1, kPhysicalScan = 2 };

    // `volumePath`: "\\.\E:"; its last two characters name the drive in the
    // question (an empty path keeps the question without them).
    explicit CLogicalDlg(const QString& volumePath, QWidget* parent = nullptr);

    QString QuestionText() const;

protected:
    void reject() override { done(kPhysicalScan); }

private:
    CColorStatic* m_pQuestion = nullptr;
};

class CLogical_Drive_Select_Dlg : public QDialog {
    Q_OBJECT
public:
    explicit CLogical_Drive_Select_Dlg(QWidget* parent = nullptr);
};

// RunLogicalScanPrompt with the selected volume's path (MainWindowState::VolumePath).
int RunLogicalScanPromptDialog(QWidget* owner);

}  // namespace torvane
