#include "results/saving_dialog.h"

#include "app/message_dialog.h"
#include "base/program_state.h"
#include "app/ui/xp_style_button.h"
#include "results/counting_dialog.h"
#include "results/open_export_folder_dialog.h"
#include "results/path_too_long_dialog.h"
#include "results/replace_dialog.h"
#include "results/save_browse_dialog.h"
#include "results/save_destination.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <climits>

namespace torvane {

// The save job's events, turned into queued calls on the saving dialog.
class SaveJobBridge final : public JobEvents {
public:
    explicit SaveJobBridge(CSavingDlg* dialog) : dialog_(dialog) {}
    void OnQuestion(const JobQuestion& question, std::function<void(int)> reply) override
    {
        CSavingDlg* dialog = dialog_;
        QMetaObject::invokeMethod(
            dialog, [dialog, question, reply] { dialog->AnswerQuestion(question, reply); }, Qt::QueuedConnection);
    }
    void OnFinished(bool) override
    {
        QMetaObject::invokeMethod(dialog_, &CSavingDlg::OnSaveFinished, Qt::QueuedConnection);
    }

private:
    CSavingDlg* dialog_;
};

namespace {

QLabel* AddRow(QGridLayout* grid, int row, const QString& caption, QWidget* parent, const QString& name)
{
    // The caption keeps its whole width; the value takes the rest and wraps
    // (a long path breaks at its slashes) instead of widening the dialog.
    auto* label = new QLabel(caption, parent);
    label->setMinimumWidth(label->sizeHint().width());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(label, row, 0);
    auto* value = new QLabel(parent);
    value->setObjectName(name);
    value->setWordWrap(true);
    value->setTextFormat(Qt::PlainText);
    value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::MinimumExpanding);
    value->setMinimumWidth(200);
    grid->addWidget(value, row, 1);
    grid->setColumnStretch(1, 1);
    return value;
}

int ClampInt(std::uint64_t v) { return v > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(v); }

}  // namespace

CSavingDlg::CSavingDlg(SaveRequest request, QWidget* parent, TargetFileSystem& fs)
    : QDialog(parent), m_request(request), m_bridge(std::make_unique<SaveJobBridge>(this)),
      m_job(std::make_unique<SaveJob>(std::move(request), m_bridge.get(), fs))
{
    setObjectName(QStringLiteral("CSavingDlg"));
    setWindowTitle(QStringLiteral("Saving Data"));
    setWindowIcon(ProgramIcon());
    auto* layout = new QVBoxLayout(this);
    setMinimumWidth(560);
    auto* advice = new QLabel(QString::fromStdString(ProgramState::Instance().Messages.StopSavingAdviceText), this);
    advice->setObjectName(QStringLiteral("StopSavingAdvice"));
    advice->setWordWrap(true);
    layout->addWidget(advice);
    auto* grid = new QGridLayout;
    m_pName = AddRow(grid, 0, QStringLiteral("File Name :"), this, QStringLiteral("FileName"));
    m_pPath = AddRow(grid, 1, QStringLiteral("File Path  :"), this, QStringLiteral("FilePath"));
    m_pBytes = AddRow(grid, 2, QStringLiteral(" Recovered Current File :"), this, QStringLiteral("FileBytes"));
    m_pBytes->setText(QStringLiteral("0 / 0 Bytes"));
    layout->addLayout(grid);
    m_pFileBar = new QProgressBar(this);
    m_pFileBar->setRange(0, 1000);
    m_pFileBar->setValue(0);
    layout->addWidget(m_pFileBar);
    auto* counts = new QGridLayout;
    m_pFiles = AddRow(counts, 0, QStringLiteral("Total Files Recovered :"), this, QStringLiteral("FilesCount"));
    m_pFolders = AddRow(counts, 1, QStringLiteral("Total Folders Recovered :"), this, QStringLiteral("FoldersCount"));
    m_pInvalid = AddRow(counts, 2, QStringLiteral("Invalid (not saved) Entries :"), this, QStringLiteral("InvalidCount"));
    m_pInvalidLabel = qobject_cast<QLabel*>(counts->itemAtPosition(2, 0)->widget());
    m_pInvalidLabel->setVisible(false);
    m_pInvalid->setVisible(false);
    layout->addLayout(counts);
    m_pFilesBar = new QProgressBar(this);
    m_pFilesBar->setObjectName(QStringLiteral("FilesBar"));
    m_pFoldersBar = new QProgressBar(this);
    m_pFoldersBar->setObjectName(QStringLiteral("FoldersBar"));
    layout->addWidget(m_pFilesBar);
    layout->addWidget(m_pFoldersBar);
    m_pTotals = new QLabel(this);
    m_pTotals->setObjectName(QStringLiteral("SelectionTotals"));
    layout->addWidget(m_pTotals);
    m_pGathering = new QLabel(
        QStringLiteral("Gathering Clusters Linking Information. This may take a while, Please wait..."), this);
    m_pGathering->setObjectName(QStringLiteral("GatheringClusters"));
    m_pGathering->setWordWrap(true);
    m_pGathering->hide();
    layout->addWidget(m_pGathering);
    auto* buttons = new QHBoxLayout;
    auto* open = MakeIconButton(QStringLiteral("Open Containing Folder"), 373, 28, this);
    open->setObjectName(QStringLiteral("OpenContainingFolder"));
    auto* stop = MakeIconButton(QStringLiteral("Stop"), 447, 24, this);
    stop->setObjectName(QStringLiteral("Stop"));
    auto* skip = MakeIconButton(QStringLiteral("Skip"), 446, 24, this);
    skip->setObjectName(QStringLiteral("Skip"));
    buttons->addWidget(open);
    buttons->addStretch(1);
    buttons->addWidget(stop);
    buttons->addWidget(skip);
    layout->addLayout(buttons);
    connect(open, &QPushButton::clicked, this, &CSavingDlg::OnOpenContainingFolder);
    connect(stop, &QPushButton::clicked, this, &CSavingDlg::OnStop);
    connect(skip, &QPushButton::clicked, this, &CSavingDlg::OnSkip);
    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(100);
    connect(m_pTimer, &QTimer::timeout, this, &CSavingDlg::OnTimer);
}

CSavingDlg::~CSavingDlg()
{
    // The worker goes before the dialog it reports to.
    m_job->StopAndWait();
}

int CSavingDlg::exec()
{
    SaveCounters& counters = m_job->Session().Counters();
    {
        CTotFileSize counting(m_request, counters, this);
        if (counting.exec() != QDialog::Accepted) {
            m_job->Session().RequestStop();
            return QDialog::Rejected;
        }
    }
    m_bCounted = true;
    m_pFiles->setText(QString::fromStdString(FormatCountProgress(0, counters.totalFiles.load())));
    m_pFolders->setText(QString::fromStdString(FormatCountProgress(0, counters.totalFolders.load())));
    m_pTotals->setText(QString::fromStdString(
        FormatSelectionTotals(counters.totalFiles.load(), counters.totalFolders.load())));
    m_pFilesBar->setRange(0, ClampInt(counters.totalFiles.load()));
    m_pFoldersBar->setRange(0, ClampInt(counters.totalFolders.load()));
    if (!m_job->Start())
        return QDialog::Rejected;
    m_pTimer->start();
    return QDialog::exec();
}

void CSavingDlg::OnTimer()
{
    SaveCounters& c = m_job->Session().Counters();
    m_pGathering->setVisible(c.gatheringClusters.load());
    bool hideTotals = false;
    m_pFiles->setText(QString::fromStdString(FormatCountProgress(c.filesWritten.load(), c.totalFiles.load(), &hideTotals)));
    if (hideTotals)
        m_pTotals->setVisible(false);
    m_pFolders->setText(QString::fromStdString(FormatCountProgress(c.foldersSaved.load(), c.totalFolders.load())));
    m_pFilesBar->setValue(ClampInt(std::min(c.filesSaved.load(), c.totalFiles.load())));
    m_pFoldersBar->setValue(ClampInt(std::min(c.foldersSaved.load(), c.totalFolders.load())));
    const std::uint64_t size = c.fileBytesTotal.load(), done = c.fileBytesDone.load();
    m_pFileBar->setValue(size ? static_cast<int>(std::min<std::uint64_t>(1000, done * 1000 / size)) : 0);
    auto [name, path] = m_job->Session().CurrentItem();
    m_pName->setText(QString::fromStdString(FormatFileNameLabel(name, size)));
    m_pPath->setText(QString::fromStdString(SavePathLabelText(path)));
    m_pBytes->setText(QString::fromStdString(FormatSizeProgress(size, done)));
    if (c.invalidEntries.load() != 0) {
        m_pInvalidLabel->setVisible(true);
        m_pInvalid->setVisible(true);
        m_pInvalid->setText(QString::number(c.invalidEntries.load()));
    }
}

void CSavingDlg::AnswerQuestion(const JobQuestion& question, const std::function<void(int)>& reply)
{
    ++m_nModalDepth;
    struct Leave {
        CSavingDlg* d;
        ~Leave()
        {
            if (--d->m_nModalDepth == 0 && d->m_bFinishPending)
                QTimer::singleShot(0, d, &CSavingDlg::OnSaveFinished);
        }
    } leave{this};
    if (question.kind == "replace") {
        QString existing = QString::fromStdString(question.text);
        QString proposed = question.choices.size() > 1 ? QString::fromStdString(question.choices[1]) : QString();
        Replace dialog(existing, proposed, this);
        dialog.exec();
        if (dialog.Answer() == ReplaceAnswer::Rename || dialog.Answer() == ReplaceAnswer::RenameAll)
            m_job->SetReplyText(dialog.NewPath().toStdString());
        reply(static_cast<int>(dialog.Answer()));
    } else if (question.kind == "too-long-path") {
        CDest_Path_Too_Long dialog(QString::fromStdString(question.text), this);
        dialog.exec();
        if (dialog.Choice() == TooLongChoice::Browse)
            m_job->SetReplyText(dialog.BrowsedFolder().toStdString());
        reply(static_cast<int>(dialog.Choice()) | (dialog.ApplyToAll() ? kApplyToAllBit : 0));
    } else {
        ShowMessage(this, QString::fromStdString(question.text));
        reply(0);
    }
}

void CSavingDlg::OnStop()
{
    if (m_bFinished || !m_job->Running())
        return;
    ++m_nModalDepth;
    const bool yes = AskYesNo(this, QStringLiteral("Do you want to stop saving?"));
    if (yes)
        m_job->Stop();
    if (--m_nModalDepth == 0 && m_bFinishPending)
        QTimer::singleShot(0, this, &CSavingDlg::OnSaveFinished);
}

void CSavingDlg::OnSkip() { m_job->SkipFile(); }

void CSavingDlg::OnOpenContainingFolder()
{
    const std::string path = m_job->Session().CurrentItem().second;
    QString folder = QString::fromStdString(ParentFolder(path));
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QString::fromStdString(m_job->Session().Destination());
    OpenFolderInShell(this, folder);
}

void CSavingDlg::OnSaveFinished()
{
    if (m_bFinished)
        return;
    if (m_nModalDepth > 0) {
        m_bFinishPending = true;   // after the open box closes
        return;
    }
    m_bFinishPending = false;
    m_bFinished = true;
    m_job->Wait();
    m_pTimer->stop();
    OnTimer();
    const SaveSession& session = m_job->Session();
    std::string text = m_job->Failed() ? "Saving ended with an error: " + m_job->ErrorText() + "\n\n" +
                                             session.CompletionText(true)
                                       : session.CompletionText(m_job->EndedStopped());
    m_strCompletion = QString::fromStdString(text);
    Open_Export_Folder completion(m_strCompletion, this);
    if (completion.exec() == QDialog::Accepted && completion.OpenFolderChoice() == 1)
        OpenFolderInShell(this, QString::fromStdString(m_job->Session().Destination()));
    done(QDialog::Rejected);
}

namespace {

// Asks for the destination folder, then saves what the request names.
void BrowseAndSave(QWidget* owner, SaveRequest request)
{
    const QString destination = RunSaveBrowseDialog(owner);
    if (destination.isEmpty())
        return;
    request.destination = destination.toStdString();
    CSavingDlg saving(std::move(request), owner);
    saving.exec();
}

}  // namespace

void SaveCheckedTreeItems(QWidget* owner, ScanResults& results, std::shared_ptr<const VolumeSet> volumes,
                          bool basicSearch)
{
    TreeModel& tree = results.Tree();
    const TreeNodeId root = tree.RootItem();
    const CheckState state = root == kNoTreeNode ? CheckState::None : tree.GetCheck(root);
    if (state != CheckState::Checked && state != CheckState::Partial) {
        ShowMessage(owner, QString::fromLatin1(kNothingSelectedText));
        return;
    }
    SaveRequest request;
    request.results = &results;
    request.volumes = volumes;
    request.basicSearch = basicSearch;
    request.source = SaveSource::Tree;
    BrowseAndSave(owner, std::move(request));
}

void SaveSelectedListItems(QWidget* owner, ScanResults& results, std::shared_ptr<const VolumeSet> volumes,
                           bool basicSearch, std::vector<SaveRow> rows)
{
    if (rows.empty())
        return;
    SaveRequest request;
    request.results = &results;
    request.volumes = volumes;
    request.basicSearch = basicSearch;
    request.source = SaveSource::List;
    request.rows = std::move(rows);
    BrowseAndSave(owner, std::move(request));
}

}  // namespace torvane
