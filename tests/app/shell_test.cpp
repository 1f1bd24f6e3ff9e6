// Widget tests of the application shell: start-up, the main window, the
// launch of the search dialogs behind the loading window, Back, the exit
// question and sequence, the information dialogs and the message windows.
#include "app/application_window.h"
#include "app/main_window.h"
#include "app/main_window_state.h"
#include "app/message_dialog.h"
#include "base/program_state.h"
#include "app/search_dialog.h"
#include "app/start_up.h"
#include "app/ui/color_static.h"
#include "app/ui/info_dialogs.h"
#include "app/ui/xp_style_button.h"
#include "app/wait_window.h"
#include "carving/signature_file.h"
#include "carving/sig_duplicate_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <QScreen>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>

using namespace torvane;

namespace {

// Records the links the program hands to the desktop instead of opening them.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// Acts once on the next visible modal window of type T (polled, since the
// window runs its own event loop).
template <typename T>
void OnNextModal(std::function<void(T*)> act)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            T* target = qobject_cast<T*>(w);
            if (target == nullptr || !target->isVisible() || target->property("handled").toBool()) continue;
            target->setProperty("handled", true);
            timer->stop();
            timer->deleteLater();
            act(target);
            return;
        }
    });
    timer->start();
}

// Answers the next message box with `button` and keeps its text.
void AnswerNextMessage(QMessageBox::StandardButton button, QString* text = nullptr)
{
    OnNextModal<QMessageBox>([button, text](QMessageBox* box) {
        if (text) *text = box->text();
        box->button(button)->click();
    });
}

// True when `dialog` shows a label with exactly `text`.
bool ShowsLabel(QWidget* dialog, const QString& text)
{
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->text() == text) return true;
    }
    return false;
}

void SaveShot(QWidget* widget, const QString& name)
{
    const QByteArray dir = qgetenv("TORVANE_SCREENSHOT_DIR");
    if (dir.isEmpty() || widget == nullptr) return;
    QDir().mkpath(QString::fromLocal8Bit(dir));
    widget->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// A drive-list builder that holds the worker until the test lets it go.
struct GatedBuilder {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = true;
    std::atomic<int> calls{0};
    void Close() { std::lock_guard<std::mutex> l(mutex); open = false; }
    void Release() { { std::lock_guard<std::mutex> l(mutex); open = true; } cv.notify_all(); }
    std::shared_ptr<DriveListSnapshot> Build(int)
    {
        ++calls;
        std::unique_lock<std::mutex> l(mutex);
        cv.wait(l, [this] { return open; });
        return std::make_shared<DriveListSnapshot>();
    }
};

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dataHome;
    QTemporaryDir m_tempParent;
    CSalvoraApp* m_app = nullptr;
    UrlRecorder m_urls;
    GatedBuilder m_builder;
    QList<int> m_exitCodes;

    CSalvoraDlg* Main() { return m_app->MainWindow(); }

    // Opens the dialog of `mode` with its button and waits until it shows.
    SearchDialogBase* Launch(int mode)
    {
        QPushButton* button = Main()->ModeButton(mode);
        if (mode == kModeVideo) Main()->OnVideoSearch();
        else button->click();
        if (!QTest::qWaitFor([&] { return Main()->OpenSearchDialog() != nullptr && Main()->OpenSearchDialog()->isVisible(); }, 5000))
            return nullptr;
        return Main()->OpenSearchDialog();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dataHome.isValid());
        qputenv("XDG_DATA_HOME", m_dataHome.path().toLocal8Bit());
        TemporaryExtractFolder::Instance().SetParentForTests(m_tempParent.path().toStdString());
        for (const char* scheme : {"http", "https", "mailto", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &m_urls, "open");
        Services().BuildDriveList = [this](int mode) { return m_builder.Build(mode); };
        SetExitHandler([this](int code) { m_exitCodes.append(code); });

        static char arg0[] = "torvane";
        static char* argv[] = {arg0, nullptr};
        m_app = new CSalvoraApp;
        QCOMPARE(m_app->InitInstance(1, argv), -1);
        QVERIFY(Main() != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(Main()));
    }

    void cleanupTestCase()
    {
        for (const char* scheme : {"http", "https", "mailto", "file"}) QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        delete m_app;
        m_app = nullptr;
    }

    void init()
    {
        ResetExitForTests();
        m_exitCodes.clear();
        m_urls.opened.clear();
        m_builder.Release();
        QVERIFY(!Main()->SearchDialogActive());
        QVERIFY(Main()->isVisible());
    }

    // --- start-up -------------------------------------------------------

    void startUpWritesTheScanLogAssociation()
    {
        const QString desktop = m_dataHome.path() + QStringLiteral("/applications/torvane.desktop");
        const QString mime = m_dataHome.path() + QStringLiteral("/mime/packages/torvane-scanlog.xml");
        QVERIFY(QFile::exists(desktop));
        QVERIFY(QFile::exists(mime));
        QFile d(desktop);
        QVERIFY(d.open(QIODevice::ReadOnly));
        const QString entry = QString::fromUtf8(d.readAll());
        QVERIFY(entry.contains(QStringLiteral("Exec=") + QCoreApplication::applicationFilePath() + QStringLiteral(" %f")));
        QVERIFY(entry.contains(QStringLiteral("MimeType=application/x-torvane-scanlog;")));
        QFile m(mime);
        QVERIFY(m.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(m.readAll()).contains(QStringLiteral("<glob pattern=\"*.vql\"/>")));
    }

    void startUpLoadsThePhotoSignatures()
    {
        QVERIFY(!SharedPhotoSignatures().general.Empty());
        QVERIFY(!SharedPhotoSignatures().advance.Empty());
        QVERIFY(ProgramState::Instance().PendingScanLogPath.Empty());
    }

    // --- main window ------------------------------------------------------

    void mainWindowShowsModesAndEditionTexts()
    {
        CSalvoraDlg* main = Main();
        SaveShot(main, QStringLiteral("main_window"));
        QCOMPARE(main->windowTitle(), QStringLiteral("Torvane (Freeware)"));
        struct Mode { int mode; const char* button; const char* caption; bool visible; };
        const Mode modes[] = {
            {kModeBasic, "Basic", "Basic Search", true},
            {kModeDeep, "Deep", "Deep Search", true},
            {kModePhoto, "Photo", "Photo Search", true},
            {kModeVideo, "Video", "Video Search", false},  // not in this edition
            {kModeSignature, "Sig-raw", "Signature Search", true},
        };
        for (const Mode& m : modes) {
            QCOMPARE(main->ModeButton(m.mode)->text(), QString::fromLatin1(m.button));
            QCOMPARE(main->ModeCaption(m.mode)->text(), QString::fromLatin1(m.caption));
            QCOMPARE(main->ModeButton(m.mode)->isVisible(), m.visible);
            // The edition layout hides the per-mode descriptions.
            QVERIFY(!main->ModeDescription(m.mode)->isVisible());
        }
        QCOMPARE(main->SummaryLine1177()->text(),
                 QStringLiteral("Photo and Signature Search modes are use signature search algorithm to find the various "
                                "file types regardless of file system structure of storage media."));
        QVERIFY(main->SummaryLine1173()->isVisible());
        QVERIFY(main->ReviewButton()->isVisible());
        QCOMPARE(main->EmailLink()->text(), QStringLiteral("support@torvane.example"));
        QCOMPARE(main->WebsiteLinkLabel()->text(), QStringLiteral("torvane.example/"));
        QCOMPARE(main->LoadLogButton()->text(), QStringLiteral("Load Log"));
    }

    void escapeAndEnterDoNothingOnTheMainWindow()
    {
        QTest::keyClick(Main(), Qt::Key_Escape);
        QTest::keyClick(Main(), Qt::Key_Return);
        QVERIFY(Main()->isVisible());
        QVERIFY(m_exitCodes.isEmpty());
    }

    // --- launch -------------------------------------------------------------

    void eachModeOpensItsDialogBehindTheLoadingWindow_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("modeText");
        QTest::newRow("basic") << int(kModeBasic) << "torvane::CBasicSearch" << "";
        QTest::newRow("deep") << int(kModeDeep) << "torvane::CDeepSearch" << "";
        QTest::newRow("photo") << int(kModePhoto) << "torvane::CRawSearch" << "";
        QTest::newRow("video") << int(kModeVideo) << "torvane::CSigDuplicate" << "Video";
        QTest::newRow("signature") << int(kModeSignature) << "torvane::CSigDuplicate" << "Signature";
    }

    void eachModeOpensItsDialogBehindTheLoadingWindow()
    {
        QFETCH(int, mode);
        QFETCH(QString, className);
        QFETCH(QString, modeText);
        ProgramState& state = ProgramState::Instance();

        m_builder.Close();  // hold the drive list until the loading window was seen
        const int callsBefore = m_builder.calls.load();
        // Pressed from the keyboard: Enter on the focused button.
        Main()->move(0, 0);
        if (mode == kModeVideo) {
            Main()->OnVideoSearch();
        } else {
            Main()->ModeButton(mode)->setFocus();
            QTest::keyClick(Main()->ModeButton(mode), Qt::Key_Return);
        }
        QVERIFY(Main()->SearchDialogActive());
        CModeless1* loading = Main()->LoadingWindow();
        QVERIFY(loading != nullptr);
        QVERIFY(loading->isVisible());
        QCOMPARE(loading->Text(), QStringLiteral("Loading required information. Please wait..."));
        QCOMPARE(state.RecoveryMode.load(), mode);
        QVERIFY(!Main()->isEnabled());
        // A second press while loading does nothing.
        Main()->OnBasicSearch();
        QCOMPARE(state.RecoveryMode.load(), mode);
        QTRY_VERIFY(Main()->LoadingTickCount() >= 2);
        QVERIFY(loading->ProgressBar()->value() > 0);
        if (mode == kModeBasic) SaveShot(loading, QStringLiteral("loading_window"));
        QCOMPARE(m_builder.calls.load(), callsBefore + 1);

        m_builder.Release();
        QTRY_VERIFY(Main()->OpenSearchDialog() != nullptr && Main()->OpenSearchDialog()->isVisible());
        SearchDialogBase* dialog = Main()->OpenSearchDialog();
        QCOMPARE(QString::fromLatin1(dialog->metaObject()->className()), className);
        QTRY_VERIFY(!Main()->isVisible());
        QTRY_VERIFY(Main()->LoadingWindow() == nullptr);
        QCOMPARE(CurrentSearchDialog(), dialog);
        if (auto* sig = qobject_cast<CSigDuplicate*>(dialog)) QCOMPARE(sig->m_strSearchMode, modeText);
        SaveShot(dialog, QStringLiteral("search_dialog_%1").arg(mode));

        // Escape does not end a search dialog.
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(dialog->isVisible());

        // Back returns to the main window with no mode.
        QPointer<SearchDialogBase> guard(dialog);
        dialog->findChild<QPushButton*>(QStringLiteral("BackButton"))->click();
        QTRY_VERIFY(guard.isNull());
        QVERIFY(Main()->isVisible());
        QVERIFY(Main()->isEnabled());
        // Whole on the screen, centred.
        const QRect area = Main()->screen()->availableGeometry();
        const QRect frame = Main()->frameGeometry();
        QVERIFY(area.contains(frame) || frame.width() >= area.width() || frame.height() >= area.height());
        if (frame.width() < area.width())
            QVERIFY(std::abs(frame.center().x() - area.center().x()) <= 1);
        QCOMPARE(state.RecoveryMode.load(), int(kModeNone));
        QVERIFY(!Main()->SearchDialogActive());
        QVERIFY(CurrentSearchDialog() == nullptr);
    }

    // On a screen smaller than the main window's content the window scrolls,
    // and a fit to the screen gives the open search dialog the same size and
    // the same scrollable display size.
    void screenFitCarriesTheMainWindowSizeToTheSearchDialog()
    {
        Main()->FitToScreen();
        if (!Main()->ScreenFitFlag()) QSKIP("the test screen holds the whole main window");
        const QSize display = Main()->GetScrollHelper()->DisplaySize();
        QVERIFY(display.width() > Main()->width() || display.height() > Main()->height());

        Main()->ModeButton(kModeBasic)->click();
        QTRY_VERIFY(Main()->OpenSearchDialog() != nullptr && Main()->OpenSearchDialog()->isVisible());
        SearchDialogBase* dialog = Main()->OpenSearchDialog();
        dialog->resize(400, 300);
        Main()->FitToScreen();
        QCOMPARE(dialog->size(), Main()->size());
        QCOMPARE(dialog->GetScrollHelper()->DisplaySize(), display);
        QTRY_VERIFY(dialog->GetScrollHelper()->Area()->verticalScrollBar()->isVisible() ||
                    dialog->GetScrollHelper()->Area()->horizontalScrollBar()->isVisible());

        QPointer<SearchDialogBase> guard(dialog);
        dialog->findChild<QPushButton*>(QStringLiteral("BackButton"))->click();
        QTRY_VERIFY(guard.isNull());
        QTRY_VERIFY(Main()->isVisible());
    }

    void modeButtonsDoNothingWhileAScanLogLoads()
    {
        for (std::atomic<int>* flag : {&MainWindowState::Instance().BasicLogLoadThread,
                                       &MainWindowState::Instance().DeepLogLoadThread}) {
            *flag = 1;
            Main()->ModeButton(kModeBasic)->click();
            Main()->OnSignatureSearch();
            QVERIFY(!Main()->SearchDialogActive());
            QVERIFY(Main()->LoadingWindow() == nullptr);
            QCOMPARE(ProgramState::Instance().RecoveryMode.load(), int(kModeNone));
            *flag = 0;
        }
    }

    void loadingBarFillsInFiftyTicksAndStaysFull()
    {
        CModeless1 window;
        QProgressBar* bar = window.ProgressBar();
        SetProgressRange64(bar, 0, 100, 2);
        for (int tick = 1; tick <= 49; ++tick) UpdateProgress64(bar, 0, 100, tick, 1, false);
        QCOMPARE(bar->value(), 98);
        UpdateProgress64(bar, 0, 100, 50, 1, false);
        QCOMPARE(bar->value(), 100);
        for (int tick = 51; tick <= 120; ++tick) UpdateProgress64(bar, 0, 100, tick, 1, false);
        QCOMPARE(bar->value(), 100);
    }

    // --- exit ------------------------------------------------------------------

    void answeringNoToTheExitQuestionKeepsEverything()
    {
        QString question;
        AnswerNextMessage(QMessageBox::No, &question);
        Main()->close();
        QCOMPARE(question, QStringLiteral("Do you want to exit from Torvane (Freeware)?"));
        QVERIFY(Main()->isVisible());
        QVERIFY(m_exitCodes.isEmpty());
        QVERIFY(!ExitRequested());
    }

    void exitStopsWorkersCleansUpShowsReviewAndEndsWithZero()
    {
        // A running worker and a temporary extract of this run.
        std::atomic<bool> stop{false};
        std::thread worker([&] { while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
        ShutdownRegistry::Instance().AddWorker("test worker", [&] { stop = true; worker.join(); });
        const QString extract = QString::fromStdString(TemporaryExtractFolder::Instance().Path()) + QStringLiteral("KZUC0.jpg");
        QFile f(extract);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
        f.close();

        bool reviewShown = false;
        AnswerNextMessage(QMessageBox::Yes);
        OnNextModal<CReview_Form>([&](CReview_Form* review) {
            reviewShown = true;
            QCOMPARE(review->windowTitle(), QStringLiteral("Review us on Google"));
            QVERIFY(ShowsLabel(review, QStringLiteral("Show your Support for our FREEWARE Apps.")));
            QVERIFY(ShowsLabel(review, QStringLiteral("Your positive reviews encourage us developing more Freeware Apps.")));
            QVERIFY(ShowsLabel(review, QStringLiteral("Email :")));
            QCOMPARE(review->WebsiteLinkLabel()->text(), QStringLiteral("torvane.example/"));
            SaveShot(review, QStringLiteral("review_form"));
            review->close();  // the close box ends the program too
        });
        Main()->close();
        QVERIFY(reviewShown);
        QCOMPARE(m_exitCodes, QList<int>{0});
        QVERIFY(!worker.joinable());
        QVERIFY(!QFile::exists(extract));
        QCOMPARE(ShutdownRegistry::Instance().WorkerCount(), std::size_t(0));
    }

    void closingASearchDialogAsksAndExits()
    {
        SearchDialogBase* dialog = Launch(kModePhoto);
        QVERIFY(dialog != nullptr);
        // No: the dialog stays.
        AnswerNextMessage(QMessageBox::No);
        dialog->close();
        QVERIFY(dialog->isVisible());
        QVERIFY(m_exitCodes.isEmpty());
        // Yes: the exit sequence (review form, OK opens the review page).
        QString question;
        AnswerNextMessage(QMessageBox::Yes, &question);
        OnNextModal<CReview_Form>([](CReview_Form* review) { review->OkButton()->click(); });
        dialog->close();
        QCOMPARE(question, QStringLiteral("Do you want to exit from Torvane (Freeware)?"));
        QCOMPARE(m_exitCodes, QList<int>{0});
        QVERIFY(m_urls.opened.contains(QUrl(QStringLiteral("https://www.torvane.example/review"))));
        // Leave the dialog the test way (the real exit would have ended the run).
        ResetExitForTests();
        QPointer<SearchDialogBase> guard(dialog);
        dialog->OnBack();
        QTRY_VERIFY(guard.isNull());
    }

    // --- information dialogs -------------------------------------------------------

    void aboutDialogTextsAndActions()
    {
        CAbout_Dlg about(Main());
        about.show();
        SaveShot(&about, QStringLiteral("about_dialog"));
        QCOMPARE(about.windowTitle(), QStringLiteral("About us"));
        QCOMPARE(about.TitleLabel()->text(), QStringLiteral("Torvane (Freeware)"));
        QCOMPARE(about.EmailLink()->text(), QStringLiteral("support@torvane.example"));
        QCOMPARE(about.WebsiteLinkLabel()->text(), QStringLiteral("torvane.example/"));
        QVERIFY(about.ReviewButton()->isVisible());

        QString message;
        QApplication::clipboard()->clear();
        AnswerNextMessage(QMessageBox::Ok, &message);
        about.findChild<QPushButton*>(QStringLiteral("CopyEmail"))->click();
        QCOMPARE(message, QStringLiteral("Text copied successfully."));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("support@torvane.example"));

        AnswerNextMessage(QMessageBox::Ok, &message);
        about.findChild<QPushButton*>(QStringLiteral("CopyUrl"))->click();
        QCOMPARE(message, QStringLiteral("Text copied successfully."));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("https://www.torvane.example/"));

        about.findChild<QPushButton*>(QStringLiteral("SendEmail"))->click();
        about.findChild<QPushButton*>(QStringLiteral("OpenWebsite"))->click();
        about.ReviewButton()->click();
        QTest::mouseClick(about.WebsiteLinkLabel(), Qt::LeftButton);
        QCOMPARE(m_urls.opened.size(), 4);
        QCOMPARE(m_urls.opened[0].scheme(), QStringLiteral("mailto"));
        const QString mail = QString::fromUtf8(m_urls.opened[0].toEncoded());
        QVERIFY(mail.startsWith(QStringLiteral("mailto:support@torvane.example?subject=Torvane%20(Freeware)%20Question&body=Dear%20Customer%20Support,%0A%0A")));
        QCOMPARE(m_urls.opened[1], QUrl(QStringLiteral("https://www.torvane.example/")));
        QCOMPARE(m_urls.opened[2], QUrl(QStringLiteral("https://www.torvane.example/review")));
        QCOMPARE(m_urls.opened[3], QUrl(QStringLiteral("https://www.torvane.example/")));

        // The help manual is not beside the test program: "Does not exist."
        AnswerNextMessage(QMessageBox::Ok, &message);
        about.HelpManualButton()->click();
        QCOMPARE(message, QStringLiteral("Does not exist."));

        about.OkButton()->click();
        QVERIFY(!about.isVisible());
    }

    void supportDialogTextsAndF1()
    {
        CHelp support(Main());
        support.show();
        QVERIFY(QTest::qWaitForWindowExposed(&support));
        SaveShot(&support, QStringLiteral("support_dialog"));
        QCOMPARE(support.windowTitle(), QStringLiteral("Support"));
        QCOMPARE(support.WebsiteLinkLabel()->text(), QStringLiteral("torvane.example/"));
        for (const char* text : {"To find help topics or open software manual", "Support Email :", "Website :",
                                 "If you are facing any difficulty, please contact us with the details of your data loss case :"})
            QVERIFY2(ShowsLabel(&support, QString::fromLatin1(text)), text);
        QVERIFY(support.ReviewButton()->isVisible());
        QString message;
        AnswerNextMessage(QMessageBox::Ok, &message);
        QTest::keyClick(&support, Qt::Key_F1);
        QCOMPARE(message, QStringLiteral("Does not exist."));
        QTest::mouseClick(support.EmailLink(), Qt::LeftButton);
        QCOMPARE(m_urls.opened.size(), 1);
        QCOMPARE(m_urls.opened[0].scheme(), QStringLiteral("mailto"));
    }

    void mainWindowAboutAndSupportButtonsOpenTheirDialogs()
    {
        bool about = false, support = false;
        OnNextModal<CAbout_Dlg>([&](CAbout_Dlg* d) { about = true; d->OkButton()->click(); });
        Main()->AboutButton()->click();
        OnNextModal<CHelp>([&](CHelp* d) { support = true; d->OkButton()->click(); });
        Main()->SupportButton()->click();
        QVERIFY(about);
        QVERIFY(support);
    }

    void linkLabelFollowsItsTextAndStaticsHaveDefaults()
    {
        CMy_Link_Static link(QStringLiteral("a@b.example"));
        const int narrow = link.width();
        QCOMPARE(link.palette().color(QPalette::WindowText), QColor(0, 0, 255));  // 0xFF0000 is blue
        QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);
        link.setText(QStringLiteral("a-much-longer-address@support.torvane.example"));
        QVERIFY(link.width() > narrow);
        QSignalSpy clicked(&link, &CMy_Link_Static::clicked);
        link.show();
        QTest::mouseClick(&link, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);

        CColorStatic plain(QStringLiteral("x"));
        QCOMPARE(plain.m_nBkMode, int(CColorStatic::Opaque));
        QVERIFY(plain.autoFillBackground());
        plain.SetColors(QColor(80, 80, 80), QColor(242, 242, 242));
        QCOMPARE(plain.palette().color(QPalette::Window), QColor(242, 242, 242));
        QCOMPARE(FromColorRef(0xD4EEFA), QColor(250, 238, 212));
    }

    // --- message windows ------------------------------------------------------------

    void exitConfirmationAnswers()
    {
        struct Case { const char* button; int result; };
        const Case cases[] = {{"SaveBeforeExit", 1}, {"ExitWithoutSaving", 5}, {"DoNotExit", 2}};
        for (const Case& c : cases) {
            CExit_Confirmation dialog(Main());
            OnNextModal<CExit_Confirmation>([&](CExit_Confirmation* d) {
                SaveShot(d, QStringLiteral("exit_confirmation"));
                d->findChild<QPushButton*>(QString::fromLatin1(c.button))->click();
            });
            QCOMPARE(dialog.exec(), c.result);
        }
        CExit_Confirmation dialog(Main());
        OnNextModal<CExit_Confirmation>([](CExit_Confirmation* d) { QTest::keyClick(d, Qt::Key_Escape); });
        QCOMPARE(dialog.exec(), int(CExit_Confirmation::kDoNotExit));
    }

    void pleaseWaitIsReusedAndHidingWithoutOneOnlyEnables()
    {
        QWidget owner;
        owner.show();
        HidePleaseWait(&owner);
        QVERIFY(owner.isEnabled());
        QVERIFY(PleaseWaitBox() == nullptr);
        ShowPleaseWait(&owner);
        CPlease_Wail_Modeless* first = PleaseWaitBox();
        QVERIFY(first != nullptr);
        QCOMPARE(first->Text(), QStringLiteral("It may take a while, Please wait..."));
        QVERIFY(!owner.isEnabled());
        QVERIFY(!Main()->isEnabled());
        ShowPleaseWait(&owner);
        QCOMPARE(PleaseWaitBox(), first);
        HidePleaseWait(&owner);
        QVERIFY(owner.isEnabled());
        QVERIFY(PleaseWaitBox() == nullptr);
        Main()->setEnabled(true);
    }

    void endOfSearchBoxOncePerScan()
    {
        ProgramState& state = ProgramState::Instance();
        state.RecoveryMode = kModeBasic;
        ResetEndOfSearchBox();
        QString text;
        OnNextModal<CMsgStand>([&](CMsgStand* box) {
            text = box->MainText();
            SaveShot(box, QStringLiteral("end_of_search"));
            box->accept();
        });
        ShowEndOfSearchMessage(nullptr, 1);
        QCOMPARE(text, QStringLiteral("Recovery is completed in Basic Search Mode, If your data is not recovered, use other "
                                      "search modes to recover your data."));
        QCOMPARE(state.BasicEndNoticeState.load(), int(kEndNoticeShown));
        // A second box for the same scan is not shown.
        ShowEndOfSearchMessage(nullptr, 1);
        // With finished 0 it always shows.
        OnNextModal<CMsgStand>([&](CMsgStand* box) { text = box->MainText(); box->accept(); });
        ShowEndOfSearchMessage(nullptr, 0);
        QCOMPARE(text, QStringLiteral("Recovery is not possible in Basic Search Mode, use other search modes to recover your data."));
        state.RecoveryMode = kModeNone;
    }
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
