#include "disk/logical_prompt_dialog.h"

#include "app/main_window_state.h"
#include "base/program_state.h"
#include "app/ui/color_static.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/xp_style_button.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace torvane {
namespace {

const char* const kLogicalExplanation =
    "When a disk partition is scanned for data recovery on the basis of logical drive, few additional drive parameters "
    "are also required to scan. This may take some additional time to complete the scanning. Scanning the Logical "
    "Drive of a disk or Partition is best when you need to recover data from dynamic Partition volumes (such as "
    "spanned, striped, mirrored, and RAID volumes etc.). However, Dynamic Drives are Rarely used in General purpose "
    "Computers.\n\nIf your disk is not partitioned for Dynamic Drives, you can save scanning time by selecting the "
    "Same Drive as Physical Partition under Physical Drives list.\n\nTo continue scanning the selected Logical Drive "
    "click 'Perform Logical Scan' or to scan the Physical Partition area of the selected logical Drive, click on "
    "'Perform Physical Scan'.";

void PaintBackground(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

}  // namespace

CLogicalDlg::CLogicalDlg(const QString& volumePath, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CLogicalDlg"));
    setWindowTitle(QStringLiteral("Message"));
    setWindowIcon(ProgramIcon());
    PaintBackground(this, QColor(242, 242, 242));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(18, 16, 18, 14);

    QString question = QStringLiteral("You have selected a Logical Partition ( ) to recover data.");
    if (!volumePath.isEmpty())
        question = QStringLiteral("You have selected a Logical Partition ( ") + volumePath.right(2) +
                   QStringLiteral(" ) to recover data.");
    m_pQuestion = new CColorStatic(question, this);
    m_pQuestion->setObjectName(QStringLiteral("LogicalQuestion"));
    m_pQuestion->SetColors(QColor(0, 0, 0), QColor(242, 242, 242));
    m_pQuestion->setFont(GetSharedFonts().ArialBold12Font);
    m_pQuestion->setWordWrap(true);
    outer->addWidget(m_pQuestion);

    auto* explanation = new CColorStatic(QString::fromUtf8(kLogicalExplanation), this);
    explanation->setObjectName(QStringLiteral("LogicalExplanation"));
    explanation->SetColors(QColor(0, 0, 0), QColor(242, 242, 242));
    explanation->setWordWrap(true);
    outer->addWidget(explanation);

    auto* row = new QHBoxLayout;
    auto* logical = new QPushButton(QStringLiteral("Perform Logical Scan"), this);
    logical->setObjectName(QStringLiteral("PerformLogicalScan"));
    auto* physical = new QPushButton(QStringLiteral("Perform Physical Scan"), this);
    physical->setObjectName(QStringLiteral("PerformPhysicalScan"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    row->addStretch();
    row->addWidget(logical);
    row->addWidget(physical);
    row->addWidget(cancel);
    outer->addLayout(row);
    connect(logical, &QPushButton::clicked, this, [this] { done(kLogicalScan); });
    connect(physical, &QPushButton::clicked, this, [this] { done(kPhysicalScan); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(kCancel); });
    setMinimumWidth(600);
}

QString CLogicalDlg::QuestionText() const { return m_pQuestion->text(); }

CLogical_Drive_Select_Dlg::CLogical_Drive_Select_Dlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CLogical_Drive_Select_Dlg"));
    setWindowTitle(QStringLiteral("Message"));
    setWindowIcon(ProgramIcon());
    PaintBackground(this, QColor(239, 239, 239));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(16, 14, 16, 12);
    const QColor note(255, 251, 227);
    auto* first = new CColorStatic(
        QStringLiteral("You have selected the option to show 'Logical Drives'. Torvane has capabilities to recover data "
                       "from 'Logical Drives' as well as from 'Physical Drives' of all type of USB storage media."),
        this);
    first->setObjectName(QStringLiteral("LogicalNote1"));
    auto* second = new CColorStatic(
        QStringLiteral("Choosing to perform Recovery from 'Physical Drives' is helpful even if your storage has logical "
                       "errors. For better performance and accuracy of recovery results, it is recommended that you "
                       "should select your USB Drive Partition from the list of 'Physical Drives' to recover data from it."),
        this);
    second->setObjectName(QStringLiteral("LogicalNote2"));
    for (CColorStatic* s : {first, second}) {
        s->SetColors(QColor(0, 0, 0), note);
        s->setWordWrap(true);
        s->setMargin(8);
        outer->addWidget(s);
    }
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* ok = MakeIconButton(QStringLiteral("OK"), kIconOk, 24, this);
    ok->setObjectName(QStringLiteral("OkButton"));
    ok->setDefault(true);
    row->addWidget(ok);
    outer->addLayout(row);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setMinimumWidth(480);
}

int RunLogicalScanPromptDialog(QWidget* owner) {
    const QString path = QString::fromStdString(MainWindowState::Instance().VolumePath.Get());
    CLogicalDlg dialog(path, owner);
    return dialog.exec();
}

}  // namespace torvane
