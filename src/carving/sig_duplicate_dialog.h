// The Video and signature search dialog: carves videos, documents, archives
// and music out of a sector range by the signatures of its data files. One
// dialog serves both searches; its mode text ("Video" or the edition's
// signature mode text) chooses the pair of signature data files.
//
// The wizard is CarvingSearchDialog's. The destination page adds the
// check-list of the file types to carve ("Check All", "Uncheck All"); the
// search page shows the ticked types with their counts and the carved files
// as icons. The file list holds 2,000 files and is then emptied
// (carved_items_view.h); the type list keeps counting.
#pragma once

#include "base/list_model.h"
#include "carving/carving_search_dialog.h"

class QPushButton;

namespace torvane {

class CColorListCtrl;
class CCarvedItemList;
class CarvedViewFeeder;

inline constexpr char kFilesClearedText[] =
    "To maintain the speed of recovery, recovered file window is cleared after every 2000 files.";
inline constexpr char kClearingFilesText[] = "Clearing recovered file window...";

// The columns of the file-type list.
enum SigTypeColumn : int {
    kTypeFileTypes = 0,
    kTypeFilesFound = 1,
    kTypeNameOfFile = 2,
    kTypePathOfFile = 3,
    kTypeLastFileNo = 4,
    kTypeCount = 5,
    kTypeFolderName = 6,
    kTypeIconIndex = 7,
    kTypeFolderIcon = 8,
};

class CSigDuplicate : public CarvingSearchDialog {
    Q_OBJECT
public:
    explicit CSigDuplicate(QWidget* parent = nullptr);
    ~CSigDuplicate() override;

    // "Video" or the signature mode text ("Signature"); set before the run.
    QString m_strSearchMode;
    void SetSearchMode(const QString& mode);

    CColorListCtrl* ExtensionList() const { return m_pExtensions; }
    ListRowModel& ExtensionRows() { return m_extensionRows; }
    QPushButton* CheckAllButton() const { return m_pCheckAll; }
    QPushButton* UncheckAllButton() const { return m_pUncheckAll; }
    CColorListCtrl* FileTypeList() const { return m_pTypes; }
    ListRowModel& FileTypeRows() { return m_typeRows; }
    CCarvedItemList* ResultList() const { return m_pResults; }
    CarvedViewFeeder* Feeder() const { return m_pFeeder; }

public slots:
    void OnCheckAll();
    void OnUncheckAll();
    // A double-click on a type's row: the folder of its last carved file.
    void OnDblClkSummaryList(const QModelIndex& index);

protected:
    void OnDestinationPageShown() override;
    void TakeDestinationChoices() override;
    void PrepareResultViews() override;
    void OnSearchStarted() override;
    void ClearResultViews() override;
    void OnCarvedFileShown(const CarvedFile& file) override;
    void OnSearchStopping() override;

private:
    void SetAllChecked(bool checked);

    ListRowModel m_extensionRows;
    CColorListCtrl* m_pExtensions = nullptr;  // 1153
    QPushButton* m_pCheckAll = nullptr;       // 1188
    QPushButton* m_pUncheckAll = nullptr;     // 1191
    ListRowModel m_typeRows;
    CColorListCtrl* m_pTypes = nullptr;       // 1146
    CCarvedItemList* m_pResults = nullptr;    // 1186
    CarvedViewFeeder* m_pFeeder = nullptr;
};

}  // namespace torvane
