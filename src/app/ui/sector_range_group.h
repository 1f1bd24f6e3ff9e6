// CSectorRangeGroup: the sector-range group of the searches that read a range
// of sectors (Deep, Photo, signature): the drive's first and last sector
// ("Min", "Max"), the "Start Sector" and "End Sector" edits, the two-thumb
// range slider between them and the help button.
//
// The edits and the slider follow each other: moving a thumb rewrites both
// edits; typing a pair whose end is not below its start moves the thumbs (a
// reversed pair leaves the slider where it is). The edits hold whatever the
// user types; the dialog checks them when it moves on.
#pragma once

#include <QGroupBox>
#include <QString>

#include <cstdint>

class QLabel;
class QLineEdit;
class QToolButton;

namespace torvane {

class CRangeSlider;

inline constexpr char kSectorRangeCaption[] =
    "You can change the range of sectors for recovery by moving the edges of slider:";

class CSectorRangeGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit CSectorRangeGroup(QWidget* parent = nullptr);

    // InitSectorRangeControls: the edits show start and end, the statics the
    // drive's bounds, and the slider spans the bounds with its thumbs on the
    // range the edits show.
    void SetRange(std::uint64_t start, std::uint64_t end, std::uint64_t minimum, std::uint64_t maximum);

    QString StartText() const;
    QString EndText() const;
    std::uint64_t Minimum() const { return m_ullMinSector; }
    std::uint64_t Maximum() const { return m_ullMaxSector; }

    QLineEdit* StartEdit() const { return m_pStart; }
    QLineEdit* EndEdit() const { return m_pEnd; }
    CRangeSlider* Slider() const { return m_pSlider; }
    QToolButton* HelpButton() const { return m_pHelp; }

public slots:
    // A thumb moved: both edits take the slider's positions.
    void OnRangeChanged(int which);
    // An edit changed: the slider follows a pair that is in order.
    void OnRangeEditChange();
    // The help button: what the sector range is for.
    void OnSectorRangeHelp();

private:
    QLabel* m_pMinValue = nullptr;   // 1213
    QLabel* m_pMaxValue = nullptr;   // 1212
    QLineEdit* m_pStart = nullptr;   // 1214
    QLineEdit* m_pEnd = nullptr;     // 1211
    CRangeSlider* m_pSlider = nullptr;  // 1008
    QToolButton* m_pHelp = nullptr;  // 1238
    std::uint64_t m_ullMinSector = 0;
    std::uint64_t m_ullMaxSector = 0;
    bool m_bWriting = false;         // the group itself is writing the edits or the slider
};

}  // namespace torvane
