// "Calculating Total Number of Files, Please Wait": counts the selection on a
// worker before a save, showing the totals as they grow. Accepted when the
// count has finished, rejected on Cancel (the save then does not start).
#pragma once

#include "results/save_job.h"

#include <QDialog>

#include <memory>

class QLabel;
class QTimer;

namespace torvane {

class CTotFileSize : public QDialog {
    Q_OBJECT
public:
    // The totals go into `counters`.
    CTotFileSize(SaveRequest request, SaveCounters& counters, QWidget* parent = nullptr);
    ~CTotFileSize() override;
    int exec() override;

public slots:
    void OnCancel();

protected:
    void reject() override {}   // Escape does nothing; Cancel is the way out

private:
    void OnTimer();

    std::unique_ptr<CountSelectionJob> m_job;
    SaveCounters& m_counters;
    QLabel* m_pFiles = nullptr;
    QLabel* m_pFolders = nullptr;
    QLabel* m_pDots[3] = {};
    QTimer* m_pTimer = nullptr;
    int m_nTicks = 0;
};

}  // namespace torvane
