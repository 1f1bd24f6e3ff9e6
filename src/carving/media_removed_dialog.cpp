#include "carving/media_removed_dialog.h"

#include "app/ui/color_static.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/ui_palette.h"
#include "app/ui/xp_style_button.h"
#include "carving/carving_events.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace torvane {

CMediaRemoved::CMediaRemoved(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CMediaRemoved"));
    setWindowTitle(QStringLiteral("Message"));
    setWindowIcon(ProgramIcon());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, DialogBackgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    auto* frame = new QGroupBox(this);
    auto* inner = new QHBoxLayout(frame);
    auto* picture = new QLabel(frame);
    picture->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(48, 48));
    picture->setAlignment(Qt::AlignTop);
    inner->addWidget(picture);
    auto* texts = new QVBoxLayout;
    auto* title = new CColorStatic(QString::fromLatin1(kReadFailureText), frame);
    title->setObjectName(QStringLiteral("MediaRemovedTitle"));
    title->SetColors(QColor(160, 0, 0), DialogBackgroundColor(), CColorStatic::Transparent);
    title->setFont(GetSharedFonts().ArialBold12Font);
    title->setWordWrap(true);
    texts->addWidget(title);
    for (const char* line :
         {"The drive(from which you are trying recover data) either has been removed or no longer available.",
          "Make sure that the storage media is connected properly. If you are connecting the storage media through "
          "a USB hub or extension cable connect the media to system USB ports directly."}) {
        auto* label = new QLabel(QString::fromLatin1(line), frame);
        label->setWordWrap(true);
        texts->addWidget(label);
    }
    inner->addLayout(texts, 1);
    layout->addWidget(frame);

    m_pApplyToAll = new QCheckBox(QStringLiteral("Apply this action until the searching completes"), this);
    m_pApplyToAll->setObjectName(QStringLiteral("ApplyToAllBox"));
    layout->addWidget(m_pApplyToAll);

    auto* row = new QHBoxLayout;
    row->addStretch();
    m_pRetry = MakeIconButton(QString::fromLatin1(kReadFailureRetryLabel), kIconOk, 24, this);
    m_pRetry->setObjectName(QStringLiteral("RetryButton"));
    m_pSkip = MakeIconButton(QString::fromLatin1(kReadFailureSkipLabel), kIconOk, 24, this);
    m_pSkip->setObjectName(QStringLiteral("SkipButton"));
    m_pCancel = MakeIconButton(QString::fromLatin1(kReadFailureCancelLabel), kIconDoNotExit, 24, this);
    m_pCancel->setObjectName(QStringLiteral("CancelSearchingButton"));
    m_pRetry->setDefault(true);
    row->addWidget(m_pRetry);
    row->addWidget(m_pSkip);
    row->addWidget(m_pCancel);
    layout->addLayout(row);
    setMinimumWidth(520);

    connect(m_pRetry, &QPushButton::clicked, this, [this] {
        m_nResult = m_pApplyToAll->isChecked() ? 5 : 1;
        Choose(kReadFailureRetry);
    });
    connect(m_pSkip, &QPushButton::clicked, this, [this] { Choose(kReadFailureSkip); });
    connect(m_pCancel, &QPushButton::clicked, this, [this] {
        m_nCancel = 1;
        m_nAnswer = kReadFailureCancel;
        accept();
    });
}

void CMediaRemoved::Choose(int answer)
{
    m_nAnswer = answer | (m_pApplyToAll->isChecked() ? kReadFailureApplyToAll : 0);
    accept();
}

void CMediaRemoved::reject()
{
    // The close box: go on with the block as zeros.
    m_nAnswer = kReadFailureSkip;
    QDialog::reject();
}

}  // namespace torvane
