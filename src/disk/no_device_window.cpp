#include "disk/no_device_window.h"

#include "base/program_state.h"
#include "app/start_up.h"
#include "app/ui/color_static.h"
#include "app/ui/shell_links.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/xp_style_button.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace torvane {
namespace {

constexpr int kIconRetry = 398;
constexpr int kIconCancel = 395;

QLabel* Paragraph(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: black; background: rgb(242, 242, 242);"));
    return label;
}

}  // namespace

CNoDevice_Rem_Media::CNoDevice_Rem_Media(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CNoDevice_Rem_Media"));
    setWindowTitle(QStringLiteral("Message"));
    setWindowIcon(ProgramIcon());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(242, 242, 242));
    setPalette(pal);
    setAutoFillBackground(true);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(18, 16, 18, 14);
    outer->setSpacing(10);

    m_pHeadline = new CColorStatic(QStringLiteral("Could not find any USB Removable Media connected to your System."), this);
    m_pHeadline->setObjectName(QStringLiteral("NoDeviceHeadline"));
    m_pHeadline->SetColors(QColor(0, 0, 0), QColor(242, 242, 242));
    m_pHeadline->setFont(GetSharedFonts().ArialBold12Font);
    m_pHeadline->setWordWrap(true);
    outer->addWidget(m_pHeadline);

    m_pReason = Paragraph(QString(), this);
    m_pReason->setObjectName(QStringLiteral("NoDeviceReason"));
    m_pReason->setStyleSheet(QStringLiteral("color: rgb(160, 0, 0); background: rgb(242, 242, 242);"));
    m_pReason->hide();
    outer->addWidget(m_pReason);

    outer->addWidget(Paragraph(QStringLiteral("Unplug your storage media and plug it again. Once you have connected your "
                                              "media, click on 'Retry' button to continue."), this));
    outer->addWidget(Paragraph(QStringLiteral("Please enable USB Mass Storage mode (or File Transfer mode) of your device "
                                              "and connect on USB port of your System."), this));
    outer->addWidget(Paragraph(QStringLiteral("If you are using a USB HUB to connect multiple USB Devices to your PC, "
                                              "Please remove the USB HUB from your PC and try connecting your storage "
                                              "media directly to the usb port of your System."), this));
    outer->addWidget(Paragraph(QStringLiteral("If you are trying to recover data from the storage of a digital device such "
                                              "(e.g. Media Players, Gaming Devices or Compatible Mobiles). You may need to "
                                              "disable the bundle application of such device."), this));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_pRetry = MakeIconButton(QStringLiteral("Retry"), kIconRetry, 24, this);
    m_pRetry->setObjectName(QStringLiteral("RetryButton"));
    m_pCancel = MakeIconButton(QStringLiteral("Cancel"), kIconCancel, 24, this);
    m_pCancel->setObjectName(QStringLiteral("CancelButton"));
    if (m_pRetry->icon().isNull()) m_pRetry->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    if (m_pCancel->icon().isNull()) m_pCancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    m_pRetry->setDefault(true);
    buttons->addWidget(m_pRetry);
    buttons->addWidget(m_pCancel);
    outer->addLayout(buttons);

    // The contact line: web site and support address with their buttons.
    const ProgramState& state = ProgramState::Instance();
    auto* contact = new QGridLayout;
    auto* website = new CMy_Link_Static(
        QString::fromStdString(ShortenUrlForDisplay(state.Contacts.WebsiteLink, false)), this);
    website->setObjectName(QStringLiteral("WebsiteLink"));
    auto* email = new CMy_Link_Static(QString::fromStdString(state.Contacts.SupportEmailText), this);
    email->setObjectName(QStringLiteral("EmailLink"));
    auto* openSite = MakeIconButton(QStringLiteral("Open Website"), 380, 16, this);
    auto* sendMail = MakeIconButton(QStringLiteral("Send Mail"), 452, 16, this);
    auto* copyEmail = MakeIconButton(QStringLiteral("Copy Email"), 448, 16, this);
    auto* copyUrl = MakeIconButton(QStringLiteral("Copy URL"), 448, 16, this);
    contact->addWidget(website, 0, 0, Qt::AlignLeft);
    contact->addWidget(copyUrl, 0, 2);
    contact->addWidget(openSite, 0, 3);
    contact->addWidget(email, 1, 0, Qt::AlignLeft);
    contact->addWidget(copyEmail, 1, 2);
    contact->addWidget(sendMail, 1, 3);
    contact->setColumnStretch(1, 1);
    outer->addLayout(contact);

    connect(m_pRetry, &QPushButton::clicked, this, [this] { emit retryRequested(); });
    connect(m_pCancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(website, &CMy_Link_Static::clicked, this, [] { OpenWebsiteLink(); });
    connect(openSite, &QPushButton::clicked, this, [] { OpenWebsiteLink(); });
    connect(copyUrl, &QPushButton::clicked, this, [] { CopyWebsiteLink(); });
    connect(email, &CMy_Link_Static::clicked, this, [] { SendSupportMail(); });
    connect(sendMail, &QPushButton::clicked, this, [] { SendSupportMail(); });
    connect(copyEmail, &QPushButton::clicked, this, [] { CopySupportEmail(); });

    setMinimumWidth(560);
}

QString CNoDevice_Rem_Media::HeadlineText() const { return m_pHeadline->text(); }

void CNoDevice_Rem_Media::SetReasonText(const QString& text) {
    m_pReason->setText(text);
    m_pReason->setVisible(!text.isEmpty());
}

void CNoDevice_Rem_Media::SetRetryRunning(bool running) {
    m_pRetry->setEnabled(!running);
}

void CNoDevice_Rem_Media::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace torvane
