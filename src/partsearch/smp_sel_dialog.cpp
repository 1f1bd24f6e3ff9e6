#include "partsearch/smp_sel_dialog.h"

#include "app/ui/ui_fonts.h"
#include "app/ui/xp_style_button.h"

#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace torvane {
namespace {

// Two blanks before "storage", as the text has always had them.
const char* const kDepthExplanation =
    "The 'Standard Mode' is quick and searches the lost partitions in the drive on the basis of fundamental "
    "partition parameters.\n\nThe 'Advanced Mode' thoroughly scans even the omitted locations of  storage to find "
    "missing partitions.\n'Advanced Mode' search may be slower than 'Standard Mode' search but recovers missing "
    "partitions even in exceptional cases of data loss.";

}  // namespace

CSmpSel::CSmpSel(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CSmpSel"));
    setWindowTitle(QStringLiteral("Search More Partition"));
    setWindowIcon(ProgramIcon());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(242, 242, 242));
    setPalette(pal);
    setAutoFillBackground(true);
    const QFont bold = GetSharedFonts().ArialBold12Font;

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(16, 14, 16, 12);
    auto* group = new QGroupBox(this);
    auto* top = new QHBoxLayout(group);
    auto* picture = new QLabel(group);
    picture->setObjectName(QStringLiteral("SmpSelPicture"));
    const QIcon disk = QIcon::fromTheme(QStringLiteral("drive-harddisk"), style()->standardIcon(QStyle::SP_DriveHDIcon));
    // The style may only have a small picture: scaled up, not left tiny.
    picture->setPixmap(disk.pixmap(48, 48).scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    picture->setAlignment(Qt::AlignTop);
    top->addWidget(picture);
    auto* column = new QVBoxLayout;
    m_pPrompt = new QLabel(QStringLiteral("Please select the Search Mode to find lost partitions."), group);
    m_pPrompt->setObjectName(QStringLiteral("SmpSelPrompt"));
    m_pPrompt->setFont(bold);
    m_pPrompt->setWordWrap(true);
    column->addWidget(m_pPrompt);
    m_pExplanation = new QLabel(QStringLiteral("Select mode for Search More Partitions of selected drive."), group);
    m_pExplanation->setObjectName(QStringLiteral("SmpSelExplanation"));
    m_pExplanation->setWordWrap(true);
    column->addWidget(m_pExplanation);
    auto* line = new QFrame(group);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(line);
    // Three radios, each its own group as the template has them; a click
    // checks one and clears the other two.
    m_pCylinder = new QRadioButton(QStringLiteral("Standard Mode"), group);
    m_pCylinder->setObjectName(QStringLiteral("CylinderMode"));
    m_pCylinder->setAutoExclusive(false);
    m_pCylinder->hide();
    m_pStandard = new QRadioButton(QStringLiteral("Standard Mode"), group);
    m_pStandard->setObjectName(QStringLiteral("StandardMode"));
    m_pStandard->setAutoExclusive(false);
    m_pAdvanced = new QRadioButton(QStringLiteral("Advanced Mode"), group);
    m_pAdvanced->setObjectName(QStringLiteral("AdvancedMode"));
    m_pAdvanced->setAutoExclusive(false);
    for (QRadioButton* radio : {m_pCylinder, m_pStandard, m_pAdvanced}) {
        radio->setFont(bold);
        column->addWidget(radio);
        connect(radio, &QRadioButton::clicked, this, [this, radio] { Check(radio); });
    }
    top->addLayout(column, 1);
    outer->addWidget(group);

    auto* row = new QHBoxLayout;
    row->addStretch();
    m_pContinue = MakeIconButton(QStringLiteral("Continue"), kIconOk, 24, this);
    m_pContinue->setObjectName(QStringLiteral("ContinueButton"));
    m_pContinue->setDefault(true);
    m_pCancel = MakeIconButton(QStringLiteral("Cancel"), 395, 24, this);
    m_pCancel->setObjectName(QStringLiteral("CancelButton"));
    row->addWidget(m_pContinue);
    row->addWidget(m_pCancel);
    outer->addLayout(row);
    connect(m_pContinue, &QPushButton::clicked, this, &CSmpSel::OnContinue);
    connect(m_pCancel, &QPushButton::clicked, this, &QDialog::reject);

    // What the dialog shows when it opens: Standard checked, the explanation.
    Check(m_pStandard);
    m_pExplanation->setText(QString::fromUtf8(kDepthExplanation));
    setMinimumWidth(520);
}

void CSmpSel::Check(QRadioButton* radio)
{
    for (QRadioButton* r : {m_pCylinder, m_pAdvanced, m_pStandard})
        r->setChecked(r == radio);
}

void CSmpSel::OnContinue()
{
    if (m_pCylinder->isChecked())
        m_nSearchMode = static_cast<int>(SmpMode::Cylinder);
    else if (m_pAdvanced->isChecked())
        m_nSearchMode = static_cast<int>(SmpMode::Advanced);
    else if (m_pStandard->isChecked())
        m_nSearchMode = static_cast<int>(SmpMode::Standard);
    accept();
}

SmpMode RunPartitionModeDialog(QWidget* parent)
{
    CSmpSel dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return SmpMode::None;
    return SmpModeFromValue(dialog.m_nSearchMode);
}

}  // namespace torvane
