// Opening a scan log without a search dialog: `torvane file.VQL` (the path on
// the command line, as the desktop passes a file of the registered type)
// opens the Basic Search dialog with the log's results before the main
// window shows; the main window's Load Log does the same; a garbage, empty,
// missing log (or a Deep log while the Deep Search loads none) gives its
// message and the program goes on.
#include "app/application_window.h"
#include "app/main_window.h"
#include "app/message_dialog.h"
#include "app/search_dialog.h"
#include "app/start_up.h"
#include "base/program_state.h"
#include "fsrecovery/basic_search_dialog.h"
#include "fsrecovery/basic_search_view.h"
#include "fsrecovery/search_session.h"
#include "platform/device_registry.h"
#include "results/scan_log_dialog.h"
#include "results/scan_log_reader.h"
#include "results/scan_log_writer.h"
#include "support/fixtures.h"
#include "support/session_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace torvane;

namespace {

namespace fs = std::filesystem;

// Answers every message box with OK, keeping its text.
class MessageAnswerer : public QObject {
public:
    MessageAnswerer()
    {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                    ok->click();
                else
                    box->accept();
            }
        });
        timer_.start();
    }
    QStringList texts;

private:
    QTimer timer_;
};

}  // namespace

class ScanLogStartTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dataHome;
    QTemporaryDir m_tempParent;
    test::TempDir m_dir;
    CSalvoraApp* m_app = nullptr;
    MessageAnswerer* m_answerer = nullptr;
    fs::path m_log;
    std::vector<std::string> m_expectedTree;
    // What the Basic dialog showed when it had loaded the log.
    std::vector<std::string> m_shownTree;
    std::uint32_t m_shownState = 0;
    int m_dialogsRun = 0;

    // Watches for the Basic dialog a log opens: once it shows the log's
    // results, notes them and goes Back twice (to the drive view, then to
    // the main window).
    void WatchForTheLogDialog()
    {
        auto* timer = new QTimer(this);
        timer->setInterval(20);
        connect(timer, &QTimer::timeout, this, [this, timer] {
            auto* dialog = qobject_cast<CBasicSearch*>(Dialogs().BasicSearchPtr.data());
            if (!dialog || !dialog->isVisible())
                return;
            CBasicSearchView* view = dialog->SearchView();
            if (view->LogJobRunning() || view->BasicScanCount() == 0 || QApplication::activeModalWidget() != dialog)
                return;
            timer->stop();
            timer->deleteLater();
            ++m_dialogsRun;
            m_shownState = view->BasicScanCount();
            m_shownTree = test::DescribeTree(view->Results());
            dialog->OnBack();
            dialog->OnBack();
        });
        timer->start();
    }

    void WriteFile(const fs::path& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dataHome.isValid());
        qputenv("XDG_DATA_HOME", m_dataHome.path().toLocal8Bit());
        TemporaryExtractFolder::Instance().SetParentForTests(m_tempParent.path().toStdString());
        SetExitHandler([](int) {});
        m_answerer = new MessageAnswerer;

        // A log of the fixture's FAT32 partition, the image the only disk.
        DeviceRegistry::Instance().SetSysfsRoot("");
        const int disk = DeviceRegistry::Instance().AddImage(test::FixtureImage("mbr.img").string(), false);
        QVERIFY(disk >= 0);
        const test::Geometry g = test::LoadGeometry("mbr.img");
        CurrentPartition p;
        p.Descriptor.FsType = "FAT32";
        p.Descriptor.StartSector = test::GeometryNumber(g, "p1.start").value_or(0);
        p.Descriptor.EndSector = test::GeometryNumber(g, "p1.end").value_or(0);
        p.Descriptor.EndByte = p.Descriptor.EndSector * 512;
        p.DevicePath = PhysicalDrivePath(disk);
        p.Device = DeviceRegistry::Instance().Open(p.DevicePath);
        p.SelectedSourceKind = "part";
        QVERIFY(p.Device);
        SearchSession session(1);
        QVERIFY(session.RunScanHere(p));
        m_expectedTree = test::DescribeTree(session.Results());
        m_log = m_dir.path() / "results.VQL";
        ScanLogSaveRequest save;
        save.path = m_log;
        save.source = ScanLogSourceFactsOf(session.Partition(), ListScanLogDevices(DeviceRegistry::Instance()).diskIdentities,
                                           "Disk 0 ( Partition 1 / FAT32 )");
        QVERIFY(session.RunSaveLogHere(save));
    }

    void cleanupTestCase()
    {
        delete m_app;
        delete m_answerer;
        SetScanLogOpenPathFunction({});
    }

    // The command line names the log, in double quotes as the desktop passes
    // it: the Basic dialog opens with the results before the main window.
    void aLogOnTheCommandLineOpensItsDialogWithTheResults()
    {
        static std::string arg1;
        arg1 = "\"" + m_log.string() + "\"";
        static char arg0[] = "torvane";
        static char* argv[] = {arg0, arg1.data(), nullptr};
        WatchForTheLogDialog();
        m_app = new CSalvoraApp;
        QCOMPARE(m_app->InitInstance(2, argv), -1);
        QCOMPARE(m_dialogsRun, 1);
        QCOMPARE(m_shownState, SearchSession::kLoadedFromLogState);
        QCOMPARE(m_shownTree, m_expectedTree);
        QVERIFY(m_answerer->texts.contains(QString::fromLatin1(kScanLogLoadedText)));
        QVERIFY(m_app->MainWindow());
        QVERIFY(m_app->MainWindow()->isVisible());
        QVERIFY(ProgramState::Instance().PendingScanLogPath.Empty());
        QCOMPARE(ProgramState::Instance().RecoveryMode.load(), int(kModeNone));
        QVERIFY(!ExitRequested());
        // The program starts with the Deep Search loading its logs.
        QVERIFY(DeepSearchLoadsScanLogs());
    }

    // Load Log of the main window: a good log opens the dialog; garbage, an
    // empty file, a missing file and a Deep log give their message, and the
    // main window stays as it was.
    void loadLogOfTheMainWindow()
    {
        QVERIFY(m_app && m_app->MainWindow());
        CSalvoraDlg* main = m_app->MainWindow();
        const QString invalid = QString::fromStdString(ProgramState::Instance().Messages.InvalidScanLogText);

        std::string good;
        {
            std::ifstream in(m_log, std::ios::binary);
            good.assign(std::istreambuf_iterator<char>(in), {});
        }
        ScanLogReadResult read = ReadScanLog(std::vector<std::uint8_t>(good.begin(), good.end()), ScanLogReaderKind::Basic);
        QVERIFY(read.loaded());
        read.document.header.mode = kScanLogDeepMode;
        QVERIFY(WriteScanLogFile(read.document, m_dir.path() / "deep.VQL").ok());
        WriteFile(m_dir.path() / "garbage.VQL", "this is not a scanning log");
        WriteFile(m_dir.path() / "empty.VQL", "");
        WriteFile(m_dir.path() / "short.VQL", good.substr(0, 12));

        struct Case {
            const char* file;
            QString message;
        };
        const Case cases[] = {
            {"garbage.VQL", invalid},
            {"empty.VQL", invalid},
            {"short.VQL", invalid},
            {"deep.VQL", QString::fromLatin1(kDeepScanLogNotAvailableText)},
            {"missing.VQL", QStringLiteral("The scanning log file \"%1\" cannot be opened: No such file or directory.")
                                .arg(QString::fromStdString((m_dir.path() / "missing.VQL").string()))},
        };
        // A program whose Deep Search loads no logs refuses a Deep log.
        SetDeepSearchLoadsScanLogs(false);
        for (const Case& c : cases) {
            m_answerer->texts.clear();
            const QString path = QString::fromStdString((m_dir.path() / c.file).string());
            SetScanLogOpenPathFunction([path](QWidget*) { return path; });
            main->OnLoadLog();
            QVERIFY2(m_answerer->texts == QStringList{c.message}, qPrintable(c.file + (": " + m_answerer->texts.join(" | "))));
            QVERIFY(main->isVisible());
            QVERIFY(ProgramState::Instance().PendingScanLogPath.Empty());
            QVERIFY(Dialogs().BasicSearchPtr.isNull());
            QVERIFY(!ExitRequested());
        }

        SetDeepSearchLoadsScanLogs(true);

        // A good one opens the dialog with the results.
        const int before = m_dialogsRun;
        const QString path = QString::fromStdString(m_log.string());
        SetScanLogOpenPathFunction([path](QWidget*) { return path; });
        WatchForTheLogDialog();
        main->OnLoadLog();
        QCOMPARE(m_dialogsRun, before + 1);
        QCOMPARE(m_shownTree, m_expectedTree);
        QVERIFY(main->isVisible());
    }
};

QTEST_MAIN(ScanLogStartTest)
#include "scan_log_start_test.moc"
