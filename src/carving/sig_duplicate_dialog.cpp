#include "carving/sig_duplicate_dialog.h"

#include "app/ui/colour_list.h"
#include "app/ui/system_image_list.h"
#include "app/ui/xp_style_button.h"
#include "base/program_state.h"
#include "base/text_encoding.h"
#include "carving/carved_items_view.h"
#include "carving/extension_table.h"
#include "results/save_browse_dialog.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>

namespace torvane {

namespace {

// RGB 230, 240, 250 as the lists keep colours (0x00BBGGRR).
constexpr std::uint32_t kBlueRow = 0x00FAF0E6;
constexpr std::uint32_t kWhiteRow = 0x00FFFFFF;

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

CSigDuplicate::CSigDuplicate(QWidget* parent)
    : CarvingSearchDialog(kModeSignature, QString::fromStdString(ProgramState::Instance().SignatureModeText), parent)
{
    setObjectName(QStringLiteral("CSigDuplicate"));
    m_strSearchMode = QString::fromStdString(ProgramState::Instance().SignatureModeText);

    // The destination page: the check-list of file types comes first.
    auto* typesBox = new QGroupBox(QStringLiteral("File types to recover"), this);
    auto* typesLayout = new QVBoxLayout(typesBox);
    m_extensionRows.InsertColumn(0, "Extension", 100);
    m_extensionRows.InsertColumn(1, "Description", 240);
    m_pExtensions = new CColorListCtrl(typesBox);
    m_pExtensions->setObjectName(QStringLiteral("ExtensionList"));
    m_pExtensions->setRowModel(&m_extensionRows);
    m_pExtensions->verticalHeader()->hide();
    m_pExtensions->verticalHeader()->setDefaultSectionSize(m_pExtensions->fontMetrics().height() + 8);
    m_pExtensions->horizontalHeader()->setStretchLastSection(true);
    m_pExtensions->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pExtensions->SetAlternateRows(true, kBlueRow, kWhiteRow);
    typesLayout->addWidget(m_pExtensions, 1);
    auto* checkRow = new QHBoxLayout;
    m_pCheckAll = MakeIconButton(QStringLiteral("Check All"), kIconOk, 16, typesBox);
    m_pCheckAll->setObjectName(QStringLiteral("CheckAllButton"));
    m_pUncheckAll = MakeIconButton(QStringLiteral("Uncheck All"), kIconDoNotExit, 16, typesBox);
    m_pUncheckAll->setObjectName(QStringLiteral("UncheckAllButton"));
    for (QPushButton* b : {m_pCheckAll, m_pUncheckAll}) {
        b->setAutoDefault(false);
        checkRow->addWidget(b);
    }
    checkRow->addStretch();
    typesLayout->addLayout(checkRow);
    DestinationPageRow()->insertWidget(0, typesBox, 3);
    StackSummaryOverDestination();
    // This dialog names its passes by the box alone.
    AlgorithmsText()->hide();

    // The search page: the types with their counts beside the carved files.
    auto* split = new QSplitter(Qt::Horizontal, this);
    m_typeRows.InsertColumn(kTypeFileTypes, "File Types", 80);
    m_typeRows.InsertColumn(kTypeFilesFound, "Files Found", 90);
    m_typeRows.InsertColumn(kTypeNameOfFile, "Name of file", 0);
    m_typeRows.InsertColumn(kTypePathOfFile, "Path of file saved", 0);
    m_typeRows.InsertColumn(kTypeLastFileNo, "LastfileNo", 0);
    m_typeRows.InsertColumn(kTypeCount, "Count", 0);
    m_typeRows.InsertColumn(kTypeFolderName, "FolderName", 0);
    m_typeRows.InsertColumn(kTypeIconIndex, "ICON_INDX", 0);
    m_typeRows.InsertColumn(kTypeFolderIcon, "", 20);
    m_pTypes = new CColorListCtrl(split);
    m_pTypes->setObjectName(QStringLiteral("FileTypeList"));
    m_pTypes->setRowModel(&m_typeRows);
    for (int c = kTypeNameOfFile; c <= kTypeIconIndex; ++c)
        m_pTypes->ShowColumn(c, false);
    m_pTypes->verticalHeader()->hide();
    m_pTypes->verticalHeader()->setDefaultSectionSize(m_pTypes->fontMetrics().height() + 8);
    m_pTypes->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTypes->setColumnWidth(kTypeFileTypes, 90);
    m_pTypes->setColumnWidth(kTypeFilesFound, 90);
    m_pTypes->setColumnWidth(kTypeFolderIcon, 20);
    m_pTypes->setMinimumWidth(220);
    m_pResults = new CCarvedItemList(QSize(32, 32), 10, split);
    m_pResults->setObjectName(QStringLiteral("ResultList"));
    m_pResults->setMinimumHeight(120);
    split->addWidget(m_pTypes);
    split->addWidget(m_pResults);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 3);
    ResultsLayout()->addWidget(split, 1);
    SetClearedNoteText(QString::fromLatin1(kFilesClearedText));
    m_pFeeder = new CarvedViewFeeder(m_pResults, this, ClearedNoteWidget(), QString::fromLatin1(kClearingFilesText),
                                     QString::fromLatin1(kFilesClearedText), this);

    connect(m_pCheckAll, &QPushButton::clicked, this, &CSigDuplicate::OnCheckAll);
    connect(m_pUncheckAll, &QPushButton::clicked, this, &CSigDuplicate::OnUncheckAll);
    connect(m_pTypes, &QAbstractItemView::doubleClicked, this, &CSigDuplicate::OnDblClkSummaryList);
    connect(m_pResults, &CCarvedItemList::itemOpened, this, [this](const QString& path) { OpenCarvedFile(this, path); });
}

CSigDuplicate::~CSigDuplicate()
{
    StopRunningWork();
    m_pExtensions->setRowModel(nullptr);
    m_pTypes->setRowModel(nullptr);
}

void CSigDuplicate::SetSearchMode(const QString& mode)
{
    m_strSearchMode = mode;
    Session().SetModeText(mode.toStdString());
    TitleLabel()->setText(mode + QStringLiteral(" Search"));
}

// ---- the destination page ------------------------------------------------------------------

void CSigDuplicate::OnDestinationPageShown()
{
    m_extensionRows.Clear();
    for (const CarvingExtensionItem& item : Session().ExtensionItems()) {
        const int row = m_extensionRows.AppendRow({item.text, item.description});
        m_extensionRows.SetRowChecked(row, item.checked);
    }
    if (m_pExtensions->itemModel())
        m_pExtensions->itemModel()->publishChanges();
    m_pExtensions->setFocus();
}

void CSigDuplicate::SetAllChecked(bool checked)
{
    for (int row = 0; row < m_extensionRows.RowCount(); ++row)
        m_extensionRows.SetRowChecked(row, checked);
    if (m_pExtensions->itemModel())
        m_pExtensions->itemModel()->publishChanges();
}

void CSigDuplicate::OnCheckAll()
{
    SetAllChecked(true);
}

void CSigDuplicate::OnUncheckAll()
{
    SetAllChecked(false);
}

void CSigDuplicate::TakeDestinationChoices()
{
    // The session keeps the items in the order the list rows were written.
    for (int row = 0; row < m_extensionRows.RowCount(); ++row)
        Session().SetExtensionChecked(static_cast<std::size_t>(row), m_extensionRows.RowChecked(row).value_or(false));
}

// ---- the search page --------------------------------------------------------------------------

void CSigDuplicate::PrepareResultViews()
{
    m_pFeeder->Reset();
    m_pResults->ClearItems();
    m_typeRows.Clear();
    m_typeRows.ClearRowColors();
    if (m_pTypes->itemModel())
        m_pTypes->itemModel()->publishChanges();
}

void CSigDuplicate::OnSearchStarted()
{
    CSystemImageList& icons = CSystemImageList::Shared();
    for (const CarvingTypeRow& type : Session().TypeRows()) {
        const std::string folder = AsciiUpper(type.extension);
        const int image = icons.GetIconIndex(QStringLiteral("Sample.") + Q(folder));
        const int row = m_typeRows.AppendRow(
            {type.extension, "0", "", "", "0", "0", folder, std::to_string(image), ""});
        m_typeRows.SetRowImage(row, image);
    }
    m_pTypes->setImageList(icons.Icons());
    if (m_pTypes->itemModel())
        m_pTypes->itemModel()->publishChanges();
}

void CSigDuplicate::OnCarvedFileShown(const CarvedFile& file)
{
    if (WizardStep() != 2)
        return;
    // The type's row: its count and its last file.
    const std::string key = ExtensionRowKey(file.extension);
    int row = -1;
    for (int r = 0; r < m_typeRows.RowCount(); ++r)
        if (ExtensionRowKey(m_typeRows.Cell(r, kTypeFileTypes)) == key) {
            row = r;
            break;
        }
    CSystemImageList& icons = CSystemImageList::Shared();
    if (row < 0) {
        const int image = icons.GetIconIndex(QStringLiteral("Sample.") + Q(AsciiUpper(file.extension)));
        row = m_typeRows.AppendRow({AsciiUpper(file.extension), "0", "", "", "0", "0", AsciiUpper(file.extension),
                                    std::to_string(image), ""});
        m_typeRows.SetRowImage(row, image);
        m_pTypes->setImageList(icons.Icons());
    }
    const std::uint64_t count = std::stoull("0" + m_typeRows.Cell(row, kTypeFilesFound)) + 1;
    m_typeRows.SetCell(row, kTypeFilesFound, std::to_string(count));
    m_typeRows.SetCell(row, kTypeNameOfFile, file.name);
    m_typeRows.SetCell(row, kTypePathOfFile, file.path);
    for (const ExtensionFolderRow& folder : Session().ExtensionRows())
        if (folder.extension == key) {
            m_typeRows.SetCell(row, kTypeLastFileNo, std::to_string(folder.lastFileNo));
            m_typeRows.SetCell(row, kTypeCount, std::to_string(folder.count));
            m_typeRows.SetCell(row, kTypeFolderName, folder.folderName);
        }
    if (count == 1)
        m_typeRows.AddRowColor(row, kBlueRow);
    if (m_pTypes->itemModel())
        m_pTypes->itemModel()->publishChanges();

    CarvedItem item;
    item.name = Q(file.name);
    item.path = Q(file.path);
    item.icon = icons.Icon(std::stoi("0" + m_typeRows.Cell(row, kTypeIconIndex)));
    m_pFeeder->Add(std::move(item));
}

void CSigDuplicate::ClearResultViews()
{
    m_pFeeder->Reset();
    m_pResults->ClearItems();
    m_typeRows.Clear();
    m_typeRows.ClearRowColors();
    if (m_pTypes->itemModel())
        m_pTypes->itemModel()->publishChanges();
}

void CSigDuplicate::OnSearchStopping()
{
    // The files closed at the stop are real files: they are still listed,
    // in the order they arrive.
}

void CSigDuplicate::OnDblClkSummaryList(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const int row = m_pTypes->sourceRow(index.row());
    const QString name = Q(m_typeRows.Cell(row, kTypeNameOfFile)).trimmed();
    const QString path = Q(m_typeRows.Cell(row, kTypePathOfFile));
    if (Q(m_typeRows.Cell(row, kTypeFileTypes)).trimmed().isEmpty() || name.isEmpty())
        return;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo(folder).isDir())
        return;
    OpenFolderInShell(this, folder);
    // A type's last file of the Thorough pass: its General folder too.
    if (path.contains(QStringLiteral("/Omitted/")) && !Session().SearchRunning()) {
        QString general = folder;
        general.replace(QStringLiteral("/Omitted/"), QStringLiteral("/General/"));
        if (QFileInfo(general).isDir())
            OpenFolderInShell(this, general);
    }
}

}  // namespace torvane
