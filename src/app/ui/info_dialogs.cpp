#include "app/ui/info_dialogs.h"

#include "base/program_state.h"
#include "app/start_up.h"
#include "app/ui/color_static.h"
#include "app/ui/shell_links.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/xp_style_button.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QShortcut>
#include <QVBoxLayout>

namespace torvane {
namespace {

QLabel* Text(const QString& text, QWidget* parent, bool wrap = true)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(wrap);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(pal);
    return label;
}

}  // namespace

QString ProgramVersionText()
{
    return QStringLiteral("Version 0.1.0");
}

InfoDialogBase::InfoDialogBase(QWidget* parent) : QDialog(parent)
{
    setWindowIcon(ProgramIcon());
    ApplyBackground();
}

void InfoDialogBase::ApplyBackground()
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(242, 242, 242));
    setPalette(pal);
    setAutoFillBackground(true);
}

void InfoDialogBase::AddContactBlock(QVBoxLayout* layout, bool withReview, const QString& emailLabel)
{
    const ContactTexts& contacts = ProgramState::Instance().Contacts;
    layout->addWidget(Text(QStringLiteral("If you are facing any difficulty, please contact us with the details of your data loss case :"), this));

    auto* grid = new QGridLayout;
    grid->addWidget(Text(emailLabel, this, false), 0, 0);
    m_pEmail = new CMy_Link_Static(QString::fromStdString(contacts.SupportEmailText), this);
    m_pEmail->setObjectName(QStringLiteral("EmailLink"));
    grid->addWidget(m_pEmail, 0, 1, Qt::AlignLeft);
    grid->addWidget(Text(QStringLiteral("Website :"), this, false), 1, 0);
    m_pWebsite = new CMy_Link_Static(QString::fromStdString(ShortenUrlForDisplay(contacts.WebsiteLink, false)), this);
    m_pWebsite->setObjectName(QStringLiteral("WebsiteLink"));
    grid->addWidget(m_pWebsite, 1, 1, Qt::AlignLeft);

    auto* copyEmail = MakeIconButton(QStringLiteral("Copy Email"), kIconCopy, 16, this);
    copyEmail->setObjectName(QStringLiteral("CopyEmail"));
    auto* sendEmail = MakeIconButton(QStringLiteral("Send Email"), kIconSendEmail, 16, this);
    sendEmail->setObjectName(QStringLiteral("SendEmail"));
    auto* copyUrl = MakeIconButton(QStringLiteral("Copy URL"), kIconCopy, 16, this);
    copyUrl->setObjectName(QStringLiteral("CopyUrl"));
    auto* openSite = MakeIconButton(QStringLiteral("Open Website"), kIconOpenWebsite, 16, this);
    openSite->setObjectName(QStringLiteral("OpenWebsite"));
    grid->addWidget(copyEmail, 0, 2);
    grid->addWidget(sendEmail, 0, 3);
    grid->addWidget(copyUrl, 1, 2);
    grid->addWidget(openSite, 1, 3);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    connect(copyEmail, &QPushButton::clicked, this, [] { CopySupportEmail(); });
    connect(copyUrl, &QPushButton::clicked, this, [] { CopyWebsiteLink(); });
    connect(sendEmail, &QPushButton::clicked, this, [] { SendSupportMail(); });
    connect(m_pEmail, &CMy_Link_Static::clicked, this, [] { SendSupportMail(); });
    connect(openSite, &QPushButton::clicked, this, [] { OpenWebsiteLink(); });
    connect(m_pWebsite, &CMy_Link_Static::clicked, this, [] { OpenWebsiteLink(); });

    auto* row = new QHBoxLayout;
    if (withReview) {
        m_pReview = new QPushButton(QStringLiteral("Review"), this);
        m_pReview->setObjectName(QStringLiteral("ReviewButton"));
        m_pReview->setIcon(LoadIconResource(kIconReview, 20, 20));
        m_pReview->setIconSize(QSize(20, 20));
        m_pReview->setAutoDefault(false);
        m_pReview->setVisible(ProgramState::Instance().Profile.ReviewPromptFlag == 1);
        connect(m_pReview, &QPushButton::clicked, this, [] { OpenReviewPage(); });
        row->addWidget(m_pReview);
    }
    row->addStretch();
    m_pOk = MakeIconButton(QStringLiteral("OK"), kIconOk, 24, this);
    m_pOk->setObjectName(QStringLiteral("OkButton"));
    m_pOk->setDefault(true);
    row->addWidget(m_pOk);
    layout->addLayout(row);
}

CAbout_Dlg::CAbout_Dlg(QWidget* parent) : InfoDialogBase(parent)
{
    setObjectName(QStringLiteral("CAbout_Dlg"));
    setWindowTitle(QStringLiteral("About us"));
    const ProgramState& state = ProgramState::Instance();
    auto* layout = new QVBoxLayout(this);

    auto* head = new QHBoxLayout;
    auto* picture = new QLabel(this);
    picture->setPixmap(ProgramIcon().pixmap(64, 64));
    head->addWidget(picture);
    auto* titles = new QVBoxLayout;
    m_pTitle = Text(QString::fromStdString(state.ProgramDisplayName), this, false);
    m_pTitle->setObjectName(QStringLiteral("TitleLabel"));
    m_pTitle->setFont(GetSharedFonts().ConsolasBold12Font);
    titles->addWidget(m_pTitle);
    auto* version = Text(ProgramVersionText(), this, false);
    version->setObjectName(QStringLiteral("VersionLabel"));
    titles->addWidget(version);
    titles->addWidget(Text(QStringLiteral("Finds deleted and lost files and folders on disks, memory cards and disk images, "
                                          "and copies them to a folder of your choice. Devices are only ever read."), this));
    head->addLayout(titles, 1);
    layout->addLayout(head);

    auto* helpRow = new QHBoxLayout;
    helpRow->addWidget(Text(QStringLiteral("To find help topics or open software manual"), this, false));
    m_pHelpManual = MakeIconButton(QStringLiteral("Launch Software Help Manual"), kIconHelpManual, 24, this);
    m_pHelpManual->setObjectName(QStringLiteral("HelpManualButton"));
    helpRow->addWidget(m_pHelpManual);
    helpRow->addStretch();
    layout->addLayout(helpRow);
    connect(m_pHelpManual, &QPushButton::clicked, this, [] { OpenHelpFile(); });

    AddContactBlock(layout, true);
    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
    setMinimumWidth(600);
}

CHelp::CHelp(QWidget* parent) : InfoDialogBase(parent)
{
    setObjectName(QStringLiteral("CHelp"));
    setWindowTitle(QStringLiteral("Support"));
    auto* layout = new QVBoxLayout(this);
    auto* hint = Text(QStringLiteral("To find help topics or open software manual"), this);
    hint->setObjectName(QStringLiteral("HintLabel"));
    hint->setFont(GetSharedFonts().ArialBold12Font);
    layout->addWidget(hint);
    AddContactBlock(layout, true);
    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
    auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
    connect(f1, &QShortcut::activated, this, [] { OpenHelpFile(); });
    setMinimumWidth(560);
}

CReview_Form::CReview_Form(QWidget* parent) : InfoDialogBase(parent)
{
    setObjectName(QStringLiteral("CReview_Form"));
    setWindowTitle(QStringLiteral("Review us on Google"));
    auto* layout = new QVBoxLayout(this);

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("ReviewPanel"));
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, FromColorRef(0xD4EEFA));
    panel->setPalette(pal);
    panel->setAutoFillBackground(true);
    auto* panelLayout = new QHBoxLayout(panel);
    auto* star = new QLabel(panel);
    star->setPixmap(LoadIconResource(kIconReview, 48, 48).pixmap(48, 48));
    panelLayout->addWidget(star);
    auto* lines = new QVBoxLayout;
    auto* head1 = Text(QStringLiteral("Show your Support for our FREEWARE Apps."), panel);
    head1->setFont(CreateUiFont(18, 700, QStringLiteral("Verdana")));
    auto* head2 = Text(QStringLiteral("Your positive reviews encourage us developing more Freeware Apps."), panel);
    head2->setFont(CreateUiFont(18, 400, QStringLiteral("Verdana")));
    lines->addWidget(head1);
    lines->addWidget(head2);
    panelLayout->addLayout(lines, 1);
    layout->addWidget(panel);

    AddContactBlock(layout, false, QStringLiteral("Email :"));
    m_pOk->setText(QStringLiteral("OK"));
    connect(m_pOk, &QPushButton::clicked, this, [this] { OnOK(); });
    setMinimumWidth(560);
}

void CReview_Form::OnOK()
{
    OpenReviewPage();
    accept();
}

}  // namespace torvane
