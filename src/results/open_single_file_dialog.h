// The "Opening File" window shown over a search dialog while a found file is
// copied for opening (its name, a bar over the file's bytes, Stop), and the
// hand-over of a finished copy to the desktop.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace torvane {

class CColorStatic;

// Opens a file with the application the desktop associates with its type
// (the freedesktop way: xdg-open through QDesktopServices). False when the
// desktop could not open it. Tests put their own function in place, which
// records the path instead of starting a program.
bool ShellOpenFile(const QString& path);
void SetShellOpenFileFunction(std::function<bool(const QString&)> open);

// Shown when the copy to open is not there.
inline constexpr char kOpenFileMissingText[] = "Does not exist.";

class COpenSingleFile : public QDialog {
    Q_OBJECT
public:
    explicit COpenSingleFile(QWidget* parent = nullptr);

    // The file: its shown name (OpenDisplayName) and size.
    void SetFile(const QString& displayName, std::uint64_t size);
    // The copy's progress.
    void SetProgress(std::uint64_t done, std::uint64_t total);
    // What Stop does (stops the copy; the part copied is opened).
    void SetStopAction(std::function<void()> stop) { m_stop = std::move(stop); }

    QLabel* NameLabel() const;
    QLabel* SizeLabel() const;
    QPushButton* StopButton() const { return m_pStop; }
    QProgressBar* ProgressBar() const { return m_pProgress; }

public slots:
    void OnStop();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override {}   // Escape never closes it

private:
    CColorStatic* m_pName = nullptr;     // 1173
    QProgressBar* m_pProgress = nullptr; // 1174
    CColorStatic* m_pSize = nullptr;     // 1027
    CColorStatic* m_pWait = nullptr;     // 1028
    QLabel* m_pStatus = nullptr;         // 1031
    QPushButton* m_pStop = nullptr;      // 1136
    std::function<void()> m_stop;
};

}  // namespace torvane
