// "Destination Path too long": what to do with a folder whose path the
// destination file system refuses for its length.
#pragma once

#include "results/save_session.h"

#include <QDialog>
#include <QString>

class QCheckBox;

namespace torvane {

class CDest_Path_Too_Long : public QDialog {
    Q_OBJECT
public:
    explicit CDest_Path_Too_Long(const QString& path, QWidget* parent = nullptr);

    TooLongChoice Choice() const { return m_choice; }
    bool ApplyToAll() const;
    QString BrowsedFolder() const { return m_strBrowsed; }
    QCheckBox* ApplyToAllBox() const { return m_pApplyAll; }

public slots:
    void OnIgnore();
    void OnMove();
    void OnBrowse();

protected:
    void reject() override { OnIgnore(); }

private:
    QCheckBox* m_pApplyAll = nullptr;
    TooLongChoice m_choice = TooLongChoice::Ignore;
    QString m_strBrowsed;
};

}  // namespace torvane
