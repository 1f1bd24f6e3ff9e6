// The completion dialog of a save: what became of the files, and
// "Open Containing Folder" (ticked at the start).
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;

namespace torvane {

class Open_Export_Folder : public QDialog {
    Q_OBJECT
public:
    explicit Open_Export_Folder(const QString& text, QWidget* parent = nullptr);
    // 1 when OK was pressed with "Open Containing Folder" ticked.
    int OpenFolderChoice() const { return m_nOpenFolder; }
    QCheckBox* OpenFolderBox() const { return m_pOpenFolder; }
    QString Text() const;

public slots:
    void OnOK();
    void OnCancel();

protected:
    void reject() override { OnCancel(); }

private:
    QLabel* m_pText = nullptr;
    QCheckBox* m_pOpenFolder = nullptr;
    int m_nOpenFolder = 0;
};

}  // namespace torvane
