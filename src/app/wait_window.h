// The loading window shown while a search dialog gets its drive list.
#pragma once

#include <QDialog>

class QProgressBar;

namespace torvane {

class CColorStatic;

// A small frameless window: "Loading required information. Please wait..."
// with a moving bar below it. It takes no keys (Escape never closes it).
class CModeless1 : public QDialog {
    Q_OBJECT
public:
    explicit CModeless1(QWidget* owner = nullptr);

    QProgressBar* ProgressBar() const { return m_pProgress; }
    QString Text() const;
    void reject() override {}

private:
    CColorStatic* m_pStatic = nullptr;
    QProgressBar* m_pProgress = nullptr;
};

}  // namespace torvane
