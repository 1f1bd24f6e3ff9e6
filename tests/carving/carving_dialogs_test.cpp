// The Photo Search and the Video/signature search dialogs end to end, on the
// sample disk (which holds real photos on its volumes and pictures and a PDF
// planted after its last partition):
// - the Photo wizard: drive, range, summary, destination, the search with
//   thumbnails appearing while it runs, the counts per type against the
//   files written, Open Containing Folder, Back;
// - the signature wizard: the check-list, Uncheck All and its message, one
//   ticked type, the type list and the carved-file list;
// - "Browse" chooses the destination and starts the search; the Video mode
//   lists its own types;
// - Stop in the middle of a slowed-down search keeps what was carved;
// - 2,500 small pictures: the view never holds more than 2,000, the clearing
//   popup stands for its second over a disabled dialog, the 2,001st picture
//   becomes item 0; meanwhile a 10 ms timer measures how late the GUI thread
//   answers (the figure is printed);
// - a read failure asked on the GUI thread (Cancel ends the search, Skip with
//   "Apply this action..." asks once);
// - the sector range: the slider and the edits follow each other;
// - thumbnails of pictures that decode, and the placeholder for one that does not.
// With TORVANE_SCREENSHOT_DIR set, the pages are saved as pictures there.
#include "../e2e/sha256.h"
#include "app/message_dialog.h"
#include "app/ui/colour_list.h"
#include "app/ui/range_slider.h"
#include "app/ui/sector_range_group.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "base/program_state.h"
#include "base/text_encoding.h"
#include "carving/carved_items_view.h"
#include "carving/media_removed_dialog.h"
#include "carving/raw_search_dialog.h"
#include "carving/sig_duplicate_dialog.h"
#include "carving/thumbnail_layout.h"
#include "carving/thumbnail_view.h"
#include "disk/device_events.h"
#include "disk/drive_refresh.h"
#include "disk/drive_tree_view.h"
#include "platform/device_registry.h"
#include "results/open_single_file_dialog.h"
#include "results/save_browse_dialog.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"
#include "support/gui_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <ctime>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#ifndef TORVANE_RES_DIR
#define TORVANE_RES_DIR "res"
#endif

using namespace torvane;
namespace fs = std::filesystem;

namespace {

using test::BoxAnswerer;

struct Planted {
    std::uint64_t sector = 0, size = 0;
    std::string sha, search, extension;
};

std::vector<Planted> LoadPlanted()
{
    std::vector<Planted> out;
    std::ifstream in(test::FixtureImage("sample.img.planted"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        Planted p;
        std::string pass, source;
        fields >> p.sector >> p.size >> p.sha >> p.search >> pass >> p.extension >> source;
        out.push_back(p);
    }
    return out;
}

std::string PrefixSha(const fs::path& path, std::uint64_t size)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return test::Sha256Hex(bytes);
}

// Carved files under `root` by the extension folder they lie in (JPG_001 counts as JPG).
std::map<std::string, std::vector<fs::path>> FilesByType(const fs::path& root)
{
    std::map<std::string, std::vector<fs::path>> out;
    if (!fs::exists(root))
        return out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        std::string folder = entry.path().parent_path().filename().string();
        out[folder.substr(0, folder.find('_'))].push_back(entry.path());
    }
    return out;
}

std::size_t CountFiles(const std::map<std::string, std::vector<fs::path>>& files)
{
    std::size_t n = 0;
    for (const auto& [type, paths] : files)
        n += paths.size();
    return n;
}

// A small real PNG (Qt's encoder) of a few coloured squares.
std::string SmallPng(int seed)
{
    QImage image(12, 9, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((seed * 37) % 360, 200, 230));
    QPainter p(&image);
    p.fillRect(2, 2, 5, 4, QColor::fromHsv((seed * 91) % 360, 255, 120));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

void Screenshot(QWidget* w, const QString& name)
{
    const QByteArray dir = qgetenv("TORVANE_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QCoreApplication::processEvents();
    const QScreen* screen = w->screen();
    const QString size = screen ? QStringLiteral("%1x%2").arg(screen->size().width()).arg(screen->size().height())
                                : QStringLiteral("screen");
    w->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + name + QLatin1Char('-') + size +
                   QStringLiteral(".png"));
}

}  // namespace

class CarvingDialogsTest : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<test::SlowDevice> sample_;
    int sampleDisk_ = -1;
    BoxAnswerer* answerer_ = nullptr;
    QStringList opened_;

    template <class Dialog>
    std::unique_ptr<Dialog> OpenDialog(int mode)
    {
        ProgramState::Instance().RecoveryMode = mode;
        auto dialog = std::make_unique<Dialog>();
        dialog->Session().SetSignatureFolder(TORVANE_RES_DIR);
        CDriveTreeView* panel = dialog->DrivePanel();
        test::PrepareDrivePanel(panel);
        dialog->show();
        if (!test::RefreshDrives(panel))
            return nullptr;
        return dialog;
    }

    // Selects disk `number` in the drive tree.
    bool SelectDisk(CarvingSearchDialog& dialog, int number)
    {
        CDriveTreeView* panel = dialog.DrivePanel();
        DriveInventory& inv = *panel->Inventory();
        const TreeNodeId item = FindDiskTreeItem(inv, number, inv.PhysicalDrivesItem);
        if (item == kNoTreeNode)
            return false;
        panel->Tree()->itemModel()->publishChanges();
        panel->Tree()->SelectItem(item);
        QCoreApplication::processEvents();
        return panel->LastSelection().NodeKindText == "Hard Disk";
    }

    // Next on page 0 and on page 1 with `destination`; waits for the search's end.
    bool RunSearch(CarvingSearchDialog& dialog, const QString& destination, std::function<void()> onPage1 = {})
    {
        dialog.NextButton()->click();
        if (dialog.WizardStep() != 1)
            return false;
        if (onPage1)
            onPage1();
        dialog.DestinationEdit()->setText(destination);
        QSignalSpy ended(&dialog, &CarvingSearchDialog::searchEnded);
        dialog.NextButton()->click();
        if (dialog.WizardStep() != 2)
            return false;
        return ended.wait(60000);
    }

private slots:
    void initTestCase()
    {
        DeviceRegistry::Instance().SetSysfsRoot("");
        std::string error;
        DevicePtr image = OpenFileDevice(test::FixtureImage("sample.img").string(), &error);
        QVERIFY2(image != nullptr, error.c_str());
        sample_ = std::make_shared<test::SlowDevice>(image);
        sampleDisk_ = DeviceRegistry::Instance().RegisterMemoryDisk(sample_);
        QVERIFY(sampleDisk_ >= 0);
        // The photo signatures, as start-up loads them.
        SignatureFileSet files;
        files.executablePath = std::string(TORVANE_RES_DIR) + "/torvane";
        files.folder = TORVANE_RES_DIR;
        files.names = {"QOVExt2.dll", "QOVExt2Adv.dll", "QOVVideo.dll", "QOVVideoAdv.dll", "QOVSig.dll", "QOVSigAdv.dll"};
        if (SharedPhotoSignatures().general.Empty()) {
            const SignatureLoadResult loaded = LoadSignatureFiles(files, SharedPhotoSignatures());
            QVERIFY2(loaded.ok, loaded.message.c_str());
        }
        SetOpenFolderFunction([this](QWidget*, const QString& folder) { opened_.push_back(folder); });
        SetShellOpenFileFunction([this](const QString& path) {
            opened_.push_back(path);
            return true;
        });
        answerer_ = new BoxAnswerer;
    }

    void cleanupTestCase() { delete answerer_; }

    void init()
    {
        answerer_->handler = {};
        answerer_->texts.clear();
        opened_.clear();
        sample_->delayMs = 0;
    }

    void photoWizardEndToEnd()
    {
        auto dialog = OpenDialog<CRawSearch>(kModePhoto);
        QVERIFY(dialog);
        Screenshot(dialog.get(), QStringLiteral("photo-0-empty"));
        QVERIFY(SelectDisk(*dialog, sampleDisk_));
        const test::Geometry g = test::LoadGeometry("sample.img");
        const QString diskSectors = QString::number(test::GeometryNumber(g, "disk.sectors").value_or(0));
        QVERIFY(dialog->RangeGroup()->isVisible());
        QCOMPARE(dialog->RangeGroup()->StartText(), QString::number(test::GeometryNumber(g, "p1.start").value_or(0)));
        QCOMPARE(dialog->RangeGroup()->EndText(), diskSectors);
        Screenshot(dialog.get(), QStringLiteral("photo-0-drive"));

        // Page 1: the summary and the saved-folder text; a missing destination.
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 1);
        QVERIFY(!dialog->RangeGroup()->isVisible());
        QCOMPARE(dialog->SummaryList()->rowModel()->RowCount(), 4);
        QCOMPARE(QString::fromStdString(dialog->SummaryList()->rowModel()->Cell(0, 1)), QStringLiteral("Photo Search"));
        QCOMPARE(dialog->StatusLine()->text(),
                 QString::fromStdString(ProgramState::Instance().Messages.CarvingCompletionText));
        QVERIFY(dialog->ThoroughBox()->isChecked());
        dialog->DestinationEdit()->setText(QStringLiteral("/nonexistent/destination"));
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 1);
        QCOMPARE(answerer_->texts.value(0), QString::fromLatin1(kDestinationMissingText));
        Screenshot(dialog.get(), QStringLiteral("photo-1-destination"));

        // The search, slowed down so that thumbnails show while it runs.
        sample_->delayMs = 3;
        test::TempDir out;
        int duringPass = 0;
        std::size_t mostShown = 0;
        connect(dialog.get(), &CRawSearch::thumbnailPlaced, this, [&](int) {
            if (dialog->Session().SearchRunning())
                ++duringPass;
            mostShown = std::max<std::size_t>(mostShown, dialog->ThumbnailView()->Count());
            if (duringPass == 12)
                Screenshot(dialog.get(), QStringLiteral("photo-2-searching"));
        });
        QSignalSpy ended(dialog.get(), &CarvingSearchDialog::searchEnded);
        dialog->DestinationEdit()->setText(QString::fromStdString(out.path().string()));
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 2);
        QVERIFY(!dialog->NextButton()->isEnabled());
        QVERIFY(!dialog->BackButton()->isEnabled());
        QVERIFY(dialog->StopSearchButton()->isVisible());
        QVERIFY(dialog->PassIndicator(1)->isVisible());
        QVERIFY(ended.wait(120000));
        QCOMPARE(ended.first().first().toInt(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->ThumbnailsPending(), 20000);
        QVERIFY2(duringPass > 0, "no thumbnail appeared while the search ran");

        // What the dialog shows against what was written.
        const fs::path search = out.path() / ProgramBaseName() / "Photo Search";
        const auto files = FilesByType(search);
        const std::size_t written = CountFiles(files);
        QVERIFY(written > 20);
        QVERIFY(written <= kCarvedViewCap);
        QCOMPARE(static_cast<std::size_t>(dialog->ThumbnailView()->Count()), written);
        QCOMPARE(dialog->Session().Counters()->filesFound.load(), written);
        std::map<std::string, std::size_t> shownByType;
        for (int row = 0; row < dialog->ThumbnailView()->Count(); ++row) {
            const std::string name = dialog->ThumbnailView()->Items()->At(row).name.toStdString();
            shownByType[AsciiUpper(name.substr(name.rfind('.') + 1))]++;
        }
        for (const ExtensionFolderRow& row : dialog->Session().ExtensionRows()) {
            const std::size_t onDisk = files.count(row.extension) ? files.at(row.extension).size() : 0;
            QCOMPARE(row.filesFound, onDisk);
            QCOMPARE(shownByType[row.extension], onDisk);
        }
        // The planted pictures are carved from their first byte and decode.
        for (const Planted& p : LoadPlanted()) {
            if (p.search != "photo")
                continue;
            bool found = false;
            for (const fs::path& f : files.at(AsciiUpper(p.extension)))
                if (PrefixSha(f, p.size) == p.sha) {
                    found = true;
                    QVERIFY2(!DecodeThumbnail(QString::fromStdString(f.string())).isNull(), f.c_str());
                }
            QVERIFY2(found, p.extension.c_str());
        }
        // The end state.
        QVERIFY(!dialog->PassIndicator(1)->isVisible());
        QVERIFY(!dialog->StopSearchButton()->isVisible());
        QVERIFY(dialog->OpenFolderButton()->isVisible());
        QVERIFY(dialog->BackButton()->isEnabled());
        QCOMPARE(dialog->StatusLine()->text(),
                 QString::fromStdString(ProgramState::Instance().Messages.ViewRecoveredDataText));
        Screenshot(dialog.get(), QStringLiteral("photo-2-done"));
        dialog->OpenFolderButton()->click();
        QCOMPARE(opened_.value(0), QString::fromStdString(search.string()));
        // A double-click opens the carved file.
        dialog->ThumbnailView()->doubleClicked(dialog->ThumbnailView()->model()->index(0, 0));
        QCOMPARE(opened_.value(1), dialog->ThumbnailView()->Items()->At(0).path);

        // Back: the destination page with an empty view, then the drive page.
        dialog->OnBack();
        QCOMPARE(dialog->WizardStep(), 1);
        QCOMPARE(dialog->ThumbnailView()->Count(), 0);
        dialog->OnBack();
        QCOMPARE(dialog->WizardStep(), 0);
        QVERIFY(dialog->RangeGroup()->isVisible());
        QVERIFY(dialog->DestinationEdit()->text().isEmpty());
    }

    void signatureWizardEndToEnd()
    {
        auto dialog = OpenDialog<CSigDuplicate>(kModeSignature);
        QVERIFY(dialog);
        dialog->SetSearchMode(QStringLiteral("Signature"));
        QVERIFY(SelectDisk(*dialog, sampleDisk_));
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 1);
        ListRowModel& types = dialog->ExtensionRows();
        QCOMPARE(static_cast<std::size_t>(types.RowCount()), dialog->Session().ExtensionItems().size());
        int pdfRow = -1;
        for (int row = 0; row < types.RowCount(); ++row) {
            QVERIFY(types.RowChecked(row).value_or(false));
            if (types.Cell(row, 0) == "PDF")
                pdfRow = row;
        }
        QVERIFY(pdfRow >= 0);
        Screenshot(dialog.get(), QStringLiteral("signature-1-types"));

        // Nothing ticked: the message, and the dialog stays.
        test::TempDir out;
        dialog->UncheckAllButton()->click();
        for (int row = 0; row < types.RowCount(); ++row)
            QVERIFY(!types.RowChecked(row).value_or(true));
        dialog->DestinationEdit()->setText(QString::fromStdString(out.path().string()));
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 1);
        QCOMPARE(answerer_->texts.value(0), QString::fromLatin1(kSelectExtensionText));

        // PDF ticked as a click on its box does it.
        QAbstractItemModel* view = dialog->ExtensionList()->model();
        const QModelIndex pdf = view->index(dialog->ExtensionList()->viewRow(pdfRow), 0);
        QVERIFY(view->setData(pdf, Qt::Checked, Qt::CheckStateRole));
        QSignalSpy ended(dialog.get(), &CarvingSearchDialog::searchEnded);
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 2);
        QVERIFY(ended.wait(60000));

        const fs::path search = out.path() / ProgramBaseName() / "Signature Search";
        const auto files = FilesByType(search);
        QCOMPARE(files.size(), std::size_t(1));
        QVERIFY(files.count("PDF"));
        ListRowModel& found = dialog->FileTypeRows();
        QCOMPARE(found.RowCount(), 1);
        QCOMPARE(QString::fromStdString(found.Cell(0, kTypeFileTypes)), QStringLiteral("PDF"));
        QCOMPARE(QString::fromStdString(found.Cell(0, kTypeFilesFound)), QString::number(files.at("PDF").size()));
        QVERIFY(found.RowColor(0).has_value());   // the type has files: its row is coloured
        QVERIFY(fs::is_regular_file(found.Cell(0, kTypePathOfFile)));
        QCOMPARE(static_cast<std::size_t>(dialog->ResultList()->Count()), files.at("PDF").size());
        bool planted = false;
        for (const Planted& p : LoadPlanted())
            for (const fs::path& f : files.at("PDF"))
                planted = planted || (p.search == "signature" && PrefixSha(f, p.size) == p.sha);
        QVERIFY(planted);
        Screenshot(dialog.get(), QStringLiteral("signature-2-done"));

        // A double-click on the type opens the folder of its last file.
        dialog->OnDblClkSummaryList(dialog->FileTypeList()->model()->index(0, 0));
        QCOMPARE(opened_.value(0), QString::fromStdString(fs::path(found.Cell(0, kTypePathOfFile)).parent_path().string()));

        // Back to the drive page and Next again: every type ticked again.
        dialog->OnBack();
        dialog->OnBack();
        QCOMPARE(dialog->WizardStep(), 0);
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 1);
        for (int row = 0; row < types.RowCount(); ++row)
            QVERIFY(types.RowChecked(row).value_or(false));
    }

    void browseChoosesTheDestinationAndStarts()
    {
        auto dialog = OpenDialog<CRawSearch>(kModePhoto);
        QVERIFY(dialog);
        QVERIFY(SelectDisk(*dialog, sampleDisk_));
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 1);
        test::TempDir out;
        const QString chosen = QString::fromStdString((out.path() / "new folder").string());
        answerer_->handler = [&](QWidget* w) {
            auto* browse = qobject_cast<CSaveBrowse*>(w);
            if (!browse)
                return false;
            browse->PathEdit()->setText(chosen);
            browse->OnOK();
            return true;
        };
        QSignalSpy ended(dialog.get(), &CarvingSearchDialog::searchEnded);
        dialog->BrowseButton()->click();
        QCOMPARE(dialog->DestinationEdit()->text(), chosen);
        QCOMPARE(dialog->WizardStep(), 2);
        QVERIFY(ended.wait(60000));
        QVERIFY(fs::is_directory(out.path() / "new folder" / ProgramBaseName() / "Photo Search" / "General"));
    }

    void videoModeListsItsOwnTypes()
    {
        auto dialog = OpenDialog<CSigDuplicate>(kModeVideo);
        QVERIFY(dialog);
        dialog->SetSearchMode(QStringLiteral("Video"));
        QVERIFY(SelectDisk(*dialog, sampleDisk_));
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 1);
        QStringList texts;
        for (int row = 0; row < dialog->ExtensionRows().RowCount(); ++row)
            texts << QString::fromStdString(dialog->ExtensionRows().Cell(row, 0));
        QVERIFY(texts.contains(QStringLiteral("MP4")));
        QVERIFY(!texts.contains(QStringLiteral("PDF")));
        QCOMPARE(QString::fromStdString(dialog->SummaryList()->rowModel()->Cell(0, 1)), QStringLiteral("Video Search"));
    }

    void stopKeepsWhatWasCarved()
    {
        auto dialog = OpenDialog<CRawSearch>(kModePhoto);
        QVERIFY(dialog);
        QVERIFY(SelectDisk(*dialog, sampleDisk_));
        sample_->delayMs = 40;
        test::TempDir out;
        dialog->NextButton()->click();
        dialog->DestinationEdit()->setText(QString::fromStdString(out.path().string()));
        QSignalSpy ended(dialog.get(), &CarvingSearchDialog::searchEnded);
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->Session().Counters()->filesFound.load() >= 3, 60000);
        dialog->StopSearchButton()->click();   // the answerer says Yes
        QVERIFY(ended.wait(60000));
        QCOMPARE(ended.first().first().toInt(), 1);
        sample_->delayMs = 0;

        const fs::path search = out.path() / ProgramBaseName() / "Photo Search";
        const auto files = FilesByType(search);
        const std::size_t written = CountFiles(files);
        QVERIFY(written >= 3);
        QCOMPARE(dialog->Session().Counters()->filesFound.load(), written);
        std::uint64_t listed = 0;
        for (const ExtensionFolderRow& row : dialog->Session().ExtensionRows())
            listed += row.filesFound;
        QCOMPARE(listed, written);
        // Every carved file is whole on disk, and the Thorough pass did not run.
        for (const auto& [type, paths] : files)
            for (const fs::path& f : paths)
                QVERIFY(fs::file_size(f) > 0);
        QVERIFY(!fs::exists(search / "Omitted"));
        QVERIFY(static_cast<std::size_t>(dialog->ThumbnailView()->Count()) <= written);
        QVERIFY(!dialog->ThumbnailsPending());
    }

    void capAndClearingOf2500Pictures()
    {
        // 2,500 small pictures, one per sector.
        constexpr int kPictures = 2500;
        auto disk = std::make_shared<test::SparseDevice>(std::uint64_t(kPictures + 64) * kSectorSize);
        for (int i = 0; i < kPictures; ++i)
            disk->WriteSector(16 + static_cast<std::uint64_t>(i), SmallPng(i));
        const int number = DeviceRegistry::Instance().RegisterMemoryDisk(disk);
        QVERIFY(number >= 0);

        auto dialog = OpenDialog<CRawSearch>(kModePhoto);
        QVERIFY(dialog);
        QVERIFY(SelectDisk(*dialog, number));
        test::TempDir out;
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 1);
        dialog->ThoroughBox()->setChecked(false);
        dialog->DestinationEdit()->setText(QString::fromStdString(out.path().string()));

        // The view's size at every placement, and the state during the clearing.
        int most = 0, clearings = 0;
        bool disabledDuring = false, popupShown = false, noteShown = false;
        QString popupTitle, popupText;
        CarvedViewFeeder* feeder = dialog->Feeder();
        connect(dialog.get(), &CRawSearch::thumbnailPlaced, this,
                [&](int) { most = std::max(most, dialog->ThumbnailView()->Count()); });
        connect(feeder, &CarvedViewFeeder::clearingStarted, this, [&] {
            ++clearings;
            QCOMPARE(dialog->ThumbnailView()->Count(), static_cast<int>(kCarvedViewCap));
            disabledDuring = !dialog->isEnabled();
            popupShown = feeder->Popup() && feeder->Popup()->isVisible();
            if (feeder->Popup()) {
                popupTitle = feeder->Popup()->Title();
                popupText = feeder->Popup()->Text();
            }
            noteShown = dialog->ClearedNote()->isVisible();
            Screenshot(dialog.get(), QStringLiteral("photo-2-clearing"));
        });
        QElapsedTimer clock;
        QElapsedTimer clearingClock;
        qint64 clearingMs = -1;
        connect(feeder, &CarvedViewFeeder::clearingStarted, this, [&] { clearingClock.start(); });
        connect(feeder, &CarvedViewFeeder::clearingEnded, this, [&] {
            clearingMs = clearingClock.elapsed();
            QVERIFY(dialog->isEnabled());
            QCOMPARE(dialog->ThumbnailView()->Count(), 0);
        });

        // How late a 10 ms timer fires while the search and the thumbnails
        // run, and how much processor time the GUI thread itself used between
        // two of its ticks (on a loaded machine the first also counts the
        // time the thread waited to be scheduled). Reported, not asserted.
        QTimer probe;
        probe.setInterval(10);
        qint64 last = -1, worst = 0;
        double lastCpu = -1, worstCpu = 0;
        connect(&probe, &QTimer::timeout, this, [&] {
            const qint64 now = clock.elapsed();
            timespec ts{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
            const double cpu = ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
            if (last >= 0) {
                worst = std::max(worst, now - last - probe.interval());
                worstCpu = std::max(worstCpu, cpu - lastCpu);
            }
            last = now;
            lastCpu = cpu;
        });

        QSignalSpy ended(dialog.get(), &CarvingSearchDialog::searchEnded);
        clock.start();
        probe.start();
        dialog->NextButton()->click();
        QCOMPARE(dialog->WizardStep(), 2);
        QVERIFY(ended.wait(120000));
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->ThumbnailsPending(), 60000);
        probe.stop();

        QCOMPARE(dialog->Session().Counters()->filesFound.load(), std::uint64_t(kPictures));
        QCOMPARE(most, static_cast<int>(kCarvedViewCap));
        QCOMPARE(clearings, 1);
        QVERIFY(disabledDuring);
        QVERIFY(popupShown);
        QVERIFY(noteShown);
        QCOMPARE(popupTitle, QString::fromLatin1(kClearingPreviewText));
        QCOMPARE(popupText, QString::fromLatin1(kThumbnailsClearedText));
        QVERIFY(clearingMs >= kClearingPopupMs - 50);
        QVERIFY(!feeder->Popup());
        QVERIFY(dialog->isEnabled());
        QCOMPARE(dialog->ThumbnailView()->Count(), kPictures - static_cast<int>(kCarvedViewCap));
        // The 2,001st picture became item 0; the order is the carving order.
        QCOMPARE(dialog->ThumbnailView()->Items()->At(0).name, QStringLiteral("GNDR02001.png"));
        QCOMPARE(dialog->ThumbnailView()->Items()->At(499).name, QStringLiteral("GNDR02500.png"));
        QVERIFY(dialog->DecodePool().PeakOnTheirWay() <= dialog->DecodePool().Capacity());
        qInfo("GUI thread: a 10 ms timer fired at most %lld ms late while 2,500 pictures were carved and shown; "
              "the most processor time the GUI thread used between two ticks: %.1f ms",
              static_cast<long long>(worst), worstCpu);
        dialog.reset();
    }

    void readFailureIsAskedOnTheGuiThread()
    {
        auto faulty = std::make_shared<test::FaultyDevice>(sample_);
        faulty->FailSectors(100000, 2000);
        const int number = DeviceRegistry::Instance().RegisterMemoryDisk(faulty);
        QVERIFY(number >= 0);

        const struct {
            const char* button;
            bool applyToAll;
            int finished;
            int asked;   // how often the question came (at most)
        } cases[] = {
            {"CancelSearchingButton", false, 1, 1},
            {"SkipButton", true, 0, 2},   // once per pass
        };
        for (const auto& c : cases) {
            auto dialog = OpenDialog<CRawSearch>(kModePhoto);
            QVERIFY(dialog);
            QVERIFY(SelectDisk(*dialog, number));
            int asked = 0;
            bool onGuiThread = true;
            answerer_->handler = [&](QWidget* w) {
                auto* box = qobject_cast<CMediaRemoved*>(w);
                if (!box)
                    return false;
                ++asked;
                onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
                box->ApplyToAllBox()->setChecked(c.applyToAll);
                box->findChild<QPushButton*>(QString::fromLatin1(c.button))->click();
                return true;
            };
            test::TempDir out;
            QVERIFY(RunSearch(*dialog, QString::fromStdString(out.path().string())));
            QVERIFY(asked >= 1);
            QVERIFY(asked <= c.asked);
            QVERIFY(onGuiThread);
            QCOMPARE(dialog->Session().Finished(), c.finished);
            QTRY_VERIFY_WITH_TIMEOUT(!dialog->ThumbnailsPending(), 20000);
            answerer_->handler = {};
        }
    }

    void sectorRangeFollowsBothWays()
    {
        CSectorRangeGroup group;
        group.resize(500, 90);
        group.show();
        // The thumbs stand on the range the edits show, inside the drive's bounds.
        group.SetRange(100, 900, 0, 1000);
        QCOMPARE(group.StartText(), QStringLiteral("100"));
        QCOMPARE(group.EndText(), QStringLiteral("900"));
        QCOMPARE(group.Slider()->Min(), 0.0);
        QCOMPARE(group.Slider()->Max(), 1000.0);
        QCOMPARE(group.Slider()->Left(), 100.0);
        QCOMPARE(group.Slider()->Right(), 900.0);
        // Typing a pair in order moves the thumbs; a reversed pair does not.
        group.StartEdit()->clear();
        QTest::keyClicks(group.StartEdit(), QStringLiteral("200"));
        QCOMPARE(group.Slider()->Left(), 200.0);
        group.EndEdit()->clear();
        QTest::keyClicks(group.EndEdit(), QStringLiteral("150"));
        QCOMPARE(group.Slider()->Right(), 900.0);
        QCOMPARE(group.EndText(), QStringLiteral("150"));
        // Moving the thumbs rewrites both edits.
        group.Slider()->setFocus();
        QTest::keyClick(group.Slider(), Qt::Key_Right);
        std::int64_t left = 0, right = 0;
        group.Slider()->GetPositions(left, right);
        QVERIFY(left > 200);
        QCOMPARE(group.StartText(), QString::number(left));
        QCOMPARE(group.EndText(), QString::number(right));
    }

    void thumbnailsAndThePlaceholder()
    {
        test::TempDir dir;
        // A wide picture: drawn 110 x 40, white above and below.
        QImage wide(220, 80, QImage::Format_RGB32);
        wide.fill(Qt::red);
        const QString widePath = QString::fromStdString((dir.path() / "wide.png").string());
        QVERIFY(wide.save(widePath));
        const QImage thumb = DecodeThumbnail(widePath);
        QCOMPARE(thumb.size(), QSize(kThumbnailWidth, kThumbnailHeight));
        QCOMPARE(thumb.pixelColor(55, 10), QColor(Qt::white));
        QCOMPARE(thumb.pixelColor(55, 40), QColor(Qt::red));
        QCOMPARE(thumb.pixelColor(55, 70), QColor(Qt::white));
        // Bytes that are no picture, an empty file and a missing one: the placeholder.
        const std::string junk = (dir.path() / "junk.jpg").string();
        std::ofstream(junk, std::ios::binary) << std::string("\xFF\xD8\xFF\xE0 not really a JPEG", 24);
        const std::string empty = (dir.path() / "empty.png").string();
        std::ofstream(empty, std::ios::binary).flush();
        for (const std::string& path : {junk, empty, (dir.path() / "missing.gif").string()})
            QVERIFY(DecodeThumbnail(QString::fromStdString(path)).isNull());
        CThumbsListCtrl view;
        QVERIFY(!view.IconOf(QImage()).isNull());
        QCOMPARE(PlaceholderThumbnail().size(), QSize(kThumbnailWidth, kThumbnailHeight));
    }
};

QTEST_MAIN(CarvingDialogsTest)
#include "carving_dialogs_test.moc"
