// The depth dialog of Search More Partitions, "Search More Partition": the
// user picks "Standard Mode" (quick, the default) or "Advanced Mode" (every
// sector). A third radio, the cylinder probe, exists but is never shown.
#pragma once

#include "partsearch/partition_search_text.h"

#include <QDialog>

class QLabel;
class QRadioButton;

namespace torvane {

class CXPStyleButtonST;

class CSmpSel : public QDialog {
    Q_OBJECT
public:
    explicit CSmpSel(QWidget* parent = nullptr);

    // Set only by Continue: 5 (the hidden radio), 10 (Advanced) or 15 (Standard).
    int m_nSearchMode = 0;

    QRadioButton* CylinderRadio() const { return m_pCylinder; }    // 1232, hidden
    QRadioButton* AdvancedRadio() const { return m_pAdvanced; }    // 1221
    QRadioButton* StandardRadio() const { return m_pStandard; }    // 1335
    CXPStyleButtonST* ContinueButton() const { return m_pContinue; }
    CXPStyleButtonST* CancelButton() const { return m_pCancel; }
    QLabel* ExplanationLabel() const { return m_pExplanation; }    // 1265

public slots:
    void OnContinue();

private:
    void Check(QRadioButton* radio);

    QRadioButton* m_pCylinder = nullptr;
    QRadioButton* m_pAdvanced = nullptr;
    QRadioButton* m_pStandard = nullptr;
    QLabel* m_pExplanation = nullptr;
    QLabel* m_pPrompt = nullptr;
    CXPStyleButtonST* m_pContinue = nullptr;
    CXPStyleButtonST* m_pCancel = nullptr;
};

// Runs CSmpSel modally and returns the depth chosen: None when it was
// cancelled or closed.
SmpMode RunPartitionModeDialog(QWidget* parent);

}  // namespace torvane
