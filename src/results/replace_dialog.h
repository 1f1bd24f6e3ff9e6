// The question of a name conflict: "Rename, Replace or Skip File
// Confirmation". It shows the existing target and a proposed new name (which
// the user may edit) and answers Rename, Overwrite, Skip or Cancel, each for
// this file or, with "Apply the answer to all the files", for all.
#pragma once

#include "results/save_session.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;

namespace torvane {

class Replace : public QDialog {
    Q_OBJECT
public:
    Replace(const QString& existing, const QString& proposed, QWidget* parent = nullptr);

    ReplaceAnswer Answer() const { return m_answer; }
    // The path of a Rename (as edited).
    QString NewPath() const;
    QCheckBox* ApplyToAll() const { return m_pApplyAll; }
    QLineEdit* NewPathEdit() const { return m_pNewPath; }

public slots:
    void OnOverwrite();
    void OnRename();
    void OnSkip();
    void OnCancel();

protected:
    void reject() override { OnSkip(); }

private:
    QCheckBox* m_pApplyAll = nullptr;
    QLineEdit* m_pExisting = nullptr;
    QLineEdit* m_pNewPath = nullptr;
    ReplaceAnswer m_answer = ReplaceAnswer::Skip;
};

}  // namespace torvane
