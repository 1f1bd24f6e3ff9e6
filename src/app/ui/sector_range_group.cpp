#include "app/ui/sector_range_group.h"

#include "app/message_dialog.h"
#include "app/ui/range_slider.h"
#include "base/program_state.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace torvane {

CSectorRangeGroup::CSectorRangeGroup(QWidget* parent) : QGroupBox(parent)
{
    setObjectName(QStringLiteral("SectorRangeGroup"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 8, 4);
    layout->setSpacing(2);

    auto* head = new QHBoxLayout;
    auto* caption = new QLabel(QString::fromLatin1(kSectorRangeCaption), this);
    caption->setWordWrap(true);
    head->addWidget(caption, 1);
    m_pHelp = new QToolButton(this);
    m_pHelp->setObjectName(QStringLiteral("SectorRangeHelpButton"));
    m_pHelp->setIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    m_pHelp->setIconSize(QSize(16, 16));
    m_pHelp->setAutoRaise(true);
    m_pHelp->setToolTip(QStringLiteral("Sector Range"));
    head->addWidget(m_pHelp);
    layout->addLayout(head);

    // One row: the drive's bounds at the ends, the two edits between them.
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    auto label = [this](const char* text) { return new QLabel(QString::fromLatin1(text), this); };
    m_pMinValue = new QLabel(QStringLiteral("0"), this);
    m_pMinValue->setObjectName(QStringLiteral("MinSector"));
    m_pMaxValue = new QLabel(QStringLiteral("0"), this);
    m_pMaxValue->setObjectName(QStringLiteral("MaxSector"));
    m_pStart = new QLineEdit(QStringLiteral("0"), this);
    m_pStart->setObjectName(QStringLiteral("StartSectorEdit"));
    m_pEnd = new QLineEdit(QStringLiteral("0"), this);
    m_pEnd->setObjectName(QStringLiteral("EndSectorEdit"));
    for (QLineEdit* edit : {m_pStart, m_pEnd}) {
        edit->setMaxLength(20);
        edit->setMinimumWidth(110);
    }
    row->addWidget(label("Min"));
    row->addWidget(m_pMinValue);
    row->addStretch(1);
    row->addWidget(label("Start Sector"));
    row->addWidget(m_pStart);
    row->addSpacing(12);
    row->addWidget(label("End Sector"));
    row->addWidget(m_pEnd);
    row->addStretch(1);
    row->addWidget(label("Max"));
    row->addWidget(m_pMaxValue);
    layout->addLayout(row);

    m_pSlider = new CRangeSlider(this);
    m_pSlider->setObjectName(QStringLiteral("RangeSlider"));
    m_pSlider->setFixedHeight(18);
    layout->addWidget(m_pSlider);

    connect(m_pSlider, &CRangeSlider::RangeChangedMessage, this, &CSectorRangeGroup::OnRangeChanged);
    connect(m_pStart, &QLineEdit::textEdited, this, &CSectorRangeGroup::OnRangeEditChange);
    connect(m_pEnd, &QLineEdit::textEdited, this, &CSectorRangeGroup::OnRangeEditChange);
    connect(m_pHelp, &QToolButton::clicked, this, &CSectorRangeGroup::OnSectorRangeHelp);
}

void CSectorRangeGroup::SetRange(std::uint64_t start, std::uint64_t end, std::uint64_t minimum, std::uint64_t maximum)
{
    m_bWriting = true;
    m_ullMinSector = minimum;
    m_ullMaxSector = maximum;
    m_pStart->setText(QString::number(start));
    m_pEnd->setText(QString::number(end));
    m_pMinValue->setText(QString::number(minimum));
    m_pMaxValue->setText(QString::number(maximum));
    m_pSlider->SetMinMax(static_cast<double>(minimum), static_cast<double>(maximum));
    // The thumbs on the range the edits show: a thumb moved later then keeps
    // the other end where it was, instead of widening it to the drive's end.
    m_pSlider->SetPositions(static_cast<double>(start), static_cast<double>(end));
    m_pSlider->SetVisualRange(0, 0);
    m_bWriting = false;
}

QString CSectorRangeGroup::StartText() const
{
    return m_pStart->text();
}

QString CSectorRangeGroup::EndText() const
{
    return m_pEnd->text();
}

void CSectorRangeGroup::OnRangeChanged(int /*which*/)
{
    if (m_bWriting)
        return;
    std::int64_t left = 0, right = 0;
    m_pSlider->GetPositions(left, right);
    m_bWriting = true;
    m_pStart->setText(QString::number(static_cast<qulonglong>(std::max<std::int64_t>(left, 0))));
    m_pEnd->setText(QString::number(static_cast<qulonglong>(std::max<std::int64_t>(right, 0))));
    m_bWriting = false;
}

void CSectorRangeGroup::OnRangeEditChange()
{
    if (m_bWriting)
        return;
    bool okStart = false, okEnd = false;
    const qulonglong start = m_pStart->text().trimmed().toULongLong(&okStart);
    const qulonglong end = m_pEnd->text().trimmed().toULongLong(&okEnd);
    if (!okStart || !okEnd || end < start)
        return;
    m_bWriting = true;
    m_pSlider->SetPositions(static_cast<double>(start), static_cast<double>(end));
    m_bWriting = false;
}

void CSectorRangeGroup::OnSectorRangeHelp()
{
    ShowMessage(window(), QString::fromStdString(ProgramState::Instance().Messages.SectorRangeHelpText));
}

}  // namespace torvane
