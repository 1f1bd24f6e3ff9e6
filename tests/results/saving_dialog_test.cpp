// The save dialogs, offscreen, on the Basic scan of a fixture volume: the
// destination dialog, the saving dialog run to its completion dialog with
// "Open Containing Folder", the Replace and too-long questions answered in
// their dialogs, Cancel in the Replace dialog, a destination that fills up,
// and Save with nothing checked.
#include "results/open_export_folder_dialog.h"
#include "results/path_too_long_dialog.h"
#include "results/replace_dialog.h"
#include "results/save_browse_dialog.h"
#include "results/saving_dialog.h"
#include "save_test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>

using namespace torvane;
namespace fs = std::filesystem;

namespace {

// Answers the modal boxes as they come up: `handle` gets each new active
// modal widget and returns true once it has dealt with it.
class ModalDriver {
public:
    explicit ModalDriver(std::function<bool(QWidget*)> handle) : handle_(std::move(handle))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (w && w != last_ && w->isVisible()) {
                if (handle_(w)) {
                    seen.push_back(w->objectName());
                    last_ = w;
                }
            }
        });
        timer_.start(5);
    }
    QStringList seen;

private:
    std::function<bool(QWidget*)> handle_;
    QTimer timer_;
    QWidget* last_ = nullptr;
};

void Click(QWidget* dialog, const char* name)
{
    auto* b = dialog->findChild<QPushButton*>(QString::fromLatin1(name));
    QVERIFY2(b, name);
    b->click();
}

SaveRequest TreeRequest(test::ScannedImage& s, const fs::path& dest)
{
    SaveRequest r;
    r.results = s.results;
    r.volumes = s.volumes;
    r.source = SaveSource::Tree;
    r.destination = dest.string();
    return r;
}

}  // namespace

class SavingDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        opened.clear();
        SetOpenFolderFunction([this](QWidget*, const QString& folder) { opened << folder; });
    }

    void destinationDialogRefusesAFileAndCreatesAMissingFolder()
    {
        test::TempDir dir;
        test::WriteWholeFile(dir.path() / "afile", "x");
        CSaveBrowse browse;
        browse.PathEdit()->setText(QString::fromStdString((dir.path() / "afile").string()));
        QString message;
        {
            ModalDriver driver([&](QWidget* w) {
                if (auto* box = qobject_cast<QMessageBox*>(w)) {
                    message = box->text();
                    box->accept();
                    return true;
                }
                return false;
            });
            QTimer::singleShot(0, &browse, [&] { Click(&browse, "OK"); });
            QTimer::singleShot(200, &browse, [&] {
                if (browse.isVisible())
                    Click(&browse, "Cancel");
            });
            QCOMPARE(browse.exec(), int(QDialog::Rejected));
        }
        QCOMPARE(message, QString::fromLatin1(kInvalidDestinationText));
        QVERIFY(browse.Destination().isEmpty());

        const fs::path target = dir.path() / "new" / "folder";
        SetBrowseForFolderFunction([&](QWidget*) { return QString::fromStdString(target.string()); });
        CSaveBrowse again;
        QTimer::singleShot(0, &again, [&] {
            Click(&again, "Browse");
            Click(&again, "OK");
        });
        QCOMPARE(again.exec(), int(QDialog::Accepted));
        SetBrowseForFolderFunction({});
        QCOMPARE(again.Destination(), QString::fromStdString(target.string()));
        QVERIFY(fs::is_directory(target));
        QVERIFY(!fs::exists(target / "zqsave"));
    }

    void saveRunsToTheCompletionDialogAndOpensTheFolder()
    {
        test::ScannedImage s = test::ScanFixture("fat16.img");
        s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
        test::TempDir dir;
        const fs::path dest = dir.path() / "out";
        CSavingDlg saving(TreeRequest(s, dest));
        QString text;
        bool ticked = false;
        ModalDriver driver([&](QWidget* w) {
            if (auto* done = qobject_cast<Open_Export_Folder*>(w)) {
                text = done->Text();
                ticked = done->OpenFolderBox()->isChecked();
                Click(done, "OK");
                return true;
            }
            return false;
        });
        saving.exec();
        QVERIFY(saving.Counted());
        QCOMPARE(text, QString::fromLatin1(kSaveSuccessText));
        QVERIFY(ticked);
        QCOMPARE(opened, QStringList{QString::fromStdString(dest.string() + "/")});
        QVERIFY(fs::exists(dest / "Frag/fragmented-file.bin"));
        QCOMPARE(test::Sha256OfFileForTest(dest / "Large/big-pattern.bin"),
                 std::string("da5a19dd10eb11ead20edb4ec66f761678352eb5085e125cb1456c039b9be3f0"));
    }

    void replaceDialogRenameForAllAndCancelStops()
    {
        test::ScannedImage s = test::ScanFixture("fat16.img");
        s.results->Tree().SetSubtreeCheck(s.Item("/Sizes"), CheckState::Checked);
        s.results->Tree().UpdateParentsAfterCheck(s.Item("/Sizes"));
        test::TempDir dir;
        fs::create_directories(dir.path() / "Sizes");
        for (const char* n : {"size-1.bin", "size-511.bin"})
            test::WriteWholeFile(dir.path() / "Sizes" / n, "old");
        {
            CSavingDlg saving(TreeRequest(s, dir.path()));
            int replaces = 0;
            QString proposed;
            ModalDriver driver([&](QWidget* w) {
                if (auto* r = qobject_cast<Replace*>(w)) {
                    ++replaces;
                    proposed = r->NewPathEdit()->text();
                    r->ApplyToAll()->setChecked(true);
                    Click(r, "Rename");
                    return true;
                }
                if (auto* done = qobject_cast<Open_Export_Folder*>(w)) {
                    Click(done, "Cancel");
                    return true;
                }
                return false;
            });
            saving.exec();
            QCOMPARE(replaces, 1);
            QCOMPARE(proposed, QString::fromStdString((dir.path() / "Sizes/size-1_zq_0.bin").string()));
            QVERIFY(opened.isEmpty());   // Cancel never opens the folder
        }
        QCOMPARE(test::ReadWholeFile(dir.path() / "Sizes/size-1.bin"), std::string("old"));
        QCOMPARE(fs::file_size(dir.path() / "Sizes/size-1_zq_0.bin"), std::uintmax_t(1));
        QCOMPARE(fs::file_size(dir.path() / "Sizes/size-511_zq_0.bin"), std::uintmax_t(511));

        // Again: now Cancel in the Replace dialog stops the save.
        CSavingDlg again(TreeRequest(s, dir.path()));
        QString text;
        ModalDriver driver([&](QWidget* w) {
            if (auto* r = qobject_cast<Replace*>(w)) {
                Click(r, "Cancel");
                return true;
            }
            if (auto* done = qobject_cast<Open_Export_Folder*>(w)) {
                text = done->Text();
                Click(done, "Cancel");
                return true;
            }
            return false;
        });
        again.exec();
        QVERIFY2(text.startsWith(QStringLiteral("Saving was stopped.")), qPrintable(text));
        QVERIFY(again.Job().EndedStopped());
    }

    void tooLongFolderMovedFromTheDialog()
    {
        test::ScannedImage s = test::ScanFixture("fat16.img");
        RecoveredFolder* q3 = s.results->FolderOfItem(s.Item("/Documents/Projekte/2024/Q3 Planung"));
        QVERIFY(q3);
        s.results->RenameFolder(*q3, std::string(300, 'L'));
        s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
        test::TempDir dir;
        CSavingDlg saving(TreeRequest(s, dir.path()));
        QStringList asked;
        ModalDriver driver([&](QWidget* w) {
            if (auto* t = qobject_cast<CDest_Path_Too_Long*>(w)) {
                asked << t->findChild<QLineEdit*>(QStringLiteral("TooLongPath"))->text();
                t->ApplyToAllBox()->setChecked(true);
                Click(t, "Move");
                return true;
            }
            if (auto* done = qobject_cast<Open_Export_Folder*>(w)) {
                Click(done, "Cancel");
                return true;
            }
            return false;
        });
        saving.exec();
        QCOMPARE(asked.size(), 1);
        QVERIFY(fs::exists(dir.path() / "KZU_Miscellaneous" / std::string(255, 'L') / "Ablauf.txt"));
    }

    void fullDestinationShowsTheMessageOnce()
    {
        test::ScannedImage s = test::ScanFixture("fat16.img");
        s.results->Tree().SetSubtreeCheck(s.Root(), CheckState::Checked);
        test::TempDir dir;
        test::LimitedFileSystem limited(30000, ENOSPC);
        CSavingDlg saving(TreeRequest(s, dir.path()), nullptr, limited);
        QStringList messages;
        QString text;
        ModalDriver driver([&](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                messages << box->text();
                box->accept();
                return true;
            }
            if (auto* done = qobject_cast<Open_Export_Folder*>(w)) {
                text = done->Text();
                Click(done, "Cancel");
                return true;
            }
            return false;
        });
        saving.exec();
        QCOMPARE(messages, QStringList{QString::fromLatin1(kDestinationFullText)});
        QVERIFY2(text.contains(QStringLiteral("Files failed: 1")), qPrintable(text));
    }

    void saveWithNothingCheckedSaysSo()
    {
        test::ScannedImage s = test::ScanFixture("fat16.img");
        QString message;
        ModalDriver driver([&](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                message = box->text();
                box->accept();
                return true;
            }
            return false;
        });
        SaveCheckedTreeItems(nullptr, *s.results, s.volumes, true);
        QCOMPARE(message, QString::fromLatin1(kNothingSelectedText));
    }

private:
    QStringList opened;
};

QTEST_MAIN(SavingDialogTest)
#include "saving_dialog_test.moc"
