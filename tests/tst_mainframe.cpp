#include "app/mainframe.h"
#include "app/quillmoorapp.h"
#include "app/tabarea.h"
#include "app/windowsdialog.h"
#include "browser/childframe.h"
#include "browser/quillmoorview.h"
#include "downloadlist/downloadlistmodel.h"
#include "downloadlist/outputlist.h"
#include "downloadlist/outputwnd.h"
#include "engine/downloadthread.h"
#include "tests/support/messageboxanswer.h"
#include "tests/support/scriptedhttpserver.h"

#include "browser/quillmoordoc.h"
#include <QAction>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMenuBar>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <cstdio>

namespace {

constexpr int kPageTimeoutMs = 60000;

const QByteArray kHome = "<html><head><title>YouTube - Broadcast Yourself.</title></head><body>"
                         "<p id='home'>home page</p><a id='watch' href='/watch?v=x7'>a clip</a>"
                         "</body></html>";
const QByteArray kWatch = "<html><head><title>YouTube - A clip</title></head><body>"
                          "<p id='watch'>watch page</p></body></html>";

QAction* FindAction(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
        if (action->menu())
            if (QAction* inner = FindAction(action->menu(), text))
                return inner;
    }
    return nullptr;
}

QMenu* TopMenu(CMainFrame* frame, const QString& title)
{
    for (QAction* action : frame->menuBar()->actions())
        if (action->text() == title)
            return action->menu();
    return nullptr;
}

} // namespace

// The started program's main frame and tabs, on pages from a test server on 127.0.0.1.
class TestMainFrame final : public QObject {
    Q_OBJECT

public:
    TestMainFrame(CQuillmoorApp& app, CScriptedHttpServer& site) : m_app(app), m_site(site) {}

private slots:
    void startsWithOneTabOnTheHomePage();
    void newTabAddsASecondTab();
    void backAfterFollowingALink();
    void documentHtmlOfAnEmptyView();
    void menuTexts_data();
    void menuTexts();
    void acceleratorsAreExactlyTheTable();
    void downloadListDockedAtTheBottom();
    void openedFileTitlesItsTab();
    void saveWritesAnEmptyFileAndRetitles();
    void navigatePostSendsAForm();
    void layoutIsKeptBetweenRuns();
    void helpDescribesTheCommandLine();
    void windowsDialogActivatesAndCloses();
    void captionNamesTheActiveTab();
    void backAndForwardFollowTheCurrentTab();
    void newWindowsOpenInANewTab_data();
    void newWindowsOpenInANewTab();
    void viewKeysWhileThePageHasTheFocus_data();
    void viewKeysWhileThePageHasTheFocus();
    void viewKeysDoNothingInTheDownloadList();
    void tabsShareOnePersistentProfile();
    void unknownSwitchesAreIgnored();
    void closingCancelsTransfersOnly();

private:
    // Opens url in a new active tab and waits until it is shown.
    CQuillmoorView* ShowInNewTab(const QString& url);
    // Gives the active tab's page the keyboard focus.
    QWidget* FocusPage();

    CMainFrame* Frame() const { return m_app.MainFrame(); }

    CQuillmoorApp& m_app;
    CScriptedHttpServer& m_site;
};

void TestMainFrame::startsWithOneTabOnTheHomePage()
{
    QCOMPARE(Frame()->Tabs().size(), 1);
    CChildFrame* tab = Frame()->ActiveTab();
    QCOMPARE(tab->windowTitle(), QStringLiteral("YouTube"));
    QTRY_COMPARE_WITH_TIMEOUT(tab->View()->url().toString(), m_site.Url("/"), kPageTimeoutMs);
    tab->View()->WaitUntilReady();
    QString html;
    QTRY_VERIFY_WITH_TIMEOUT(tab->View()->GetDocumentHtml(html) && html.contains("home page"),
                             kPageTimeoutMs);
    QVERIFY2(html.startsWith("<html>"), qPrintable(html));
    QVERIFY(tab->View()->GetBodyHtml(html));
    QVERIFY(html.startsWith("<body>"));
}

void TestMainFrame::newTabAddsASecondTab()
{
    Frame()->ApplicationCommands().newTab->trigger();
    QCOMPARE(Frame()->Tabs().size(), 2);
    for (CChildFrame* tab : Frame()->Tabs())
        QCOMPARE(tab->windowTitle(), QStringLiteral("YouTube"));
    QCOMPARE(Frame()->ActiveTab(), Frame()->Tabs().last());
}

void TestMainFrame::backAfterFollowingALink()
{
    CChildFrame* tab = Frame()->ActiveTab();
    CQuillmoorView* view = tab->View();
    QAction* back = FindAction(TopMenu(Frame(), "&View"), "Back\tAlt+Left Arrow");
    QAction* forward = FindAction(TopMenu(Frame(), "&View"), "Forward\tAlt+Right Arrow");
    QTRY_VERIFY_WITH_TIMEOUT(view->IsDocumentReady() && view->url().toString() == m_site.Url("/"),
                             kPageTimeoutMs);
    QVERIFY(!back->isEnabled());
    QVERIFY(!forward->isEnabled());

    // A real click: the engine skips history entries that a script made without the user.
    QVariant box;
    view->page()->runJavaScript(
        QStringLiteral("(function(){var r=document.getElementById('watch').getBoundingClientRect();"
                       "return [r.left + r.width / 2, r.top + r.height / 2];})()"),
        [&box](const QVariant& v) { box = v; });
    QTRY_VERIFY_WITH_TIMEOUT(box.isValid(), kPageTimeoutMs);
    const QPoint link(box.toList().value(0).toInt(), box.toList().value(1).toInt());
    QWidget* surface = view->focusProxy() ? view->focusProxy() : view;
    QTest::mouseClick(surface, Qt::LeftButton, {}, link);
    QTRY_VERIFY_WITH_TIMEOUT(back->isEnabled(), kPageTimeoutMs);
    QVERIFY(view->CanGoBack());
    QVERIFY(!forward->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(view->url().toString(), m_site.Url("/watch?v=x7"), kPageTimeoutMs);
    // The caption stays whatever page the tab shows.
    QCOMPARE(tab->windowTitle(), QStringLiteral("YouTube"));

    QTRY_VERIFY_WITH_TIMEOUT(view->IsDocumentReady(), kPageTimeoutMs);
    back->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(forward->isEnabled(), kPageTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(view->url().toString(), m_site.Url("/"), kPageTimeoutMs);
}

void TestMainFrame::documentHtmlOfAnEmptyView()
{
    CQuillmoorView view;
    QString text = QStringLiteral("stale");
    QVERIFY(!view.GetDocumentHtml(text));
    QVERIFY(text.isEmpty());
    QVERIFY(!view.GetBodyHtml(text));
}

void TestMainFrame::menuTexts_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("statusTip");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("new tab") << "&File"
                             << "&New YouTube Tab\tCtrl+N"
                             << "Open a new YouTube Tab"
                             << "New" << true;
    QTest::newRow("download video") << "&File"
                                    << "&Download Video...\tCtrl+D"
                                    << "Download the video"
                                    << "Download" << true;
    QTest::newRow("close tab") << "&File"
                               << "&Close Tab"
                               << "Close the active document"
                               << "Close" << true;
    QTest::newRow("exit") << "&File"
                          << "E&xit"
                          << "Quit the application; prompts to save documents"
                          << "Exit" << true;
    QTest::newRow("status bar") << "&View"
                                << "&Status Bar"
                                << "Show or hide the status bar"
                                << "Toggle Status Bar" << true;
    QTest::newRow("refresh") << "&View"
                             << "Refresh\tF5"
                             << "Refresh the contents of the current page"
                             << "Refresh" << true;
    QTest::newRow("stop") << "&View"
                          << "Stop\tEsc"
                          << "Stop the current page from loading"
                          << "Stop" << true;
    QTest::newRow("about") << "&Help"
                           << "&About Quillmoor..."
                           << "Display program information, version number and copyright"
                           << "About" << true;
}

void TestMainFrame::menuTexts()
{
    QFETCH(QString, menu);
    QFETCH(QString, text);
    QFETCH(QString, statusTip);
    QFETCH(QString, toolTip);
    QFETCH(bool, enabled);

    QMenu* top = TopMenu(Frame(), menu);
    QVERIFY(top);
    QAction* action = FindAction(top, text);
    QVERIFY2(action, qPrintable(text));
    QCOMPARE(action->statusTip(), statusTip);
    QCOMPARE(action->toolTip(), toolTip);
    QCOMPARE(action->isEnabled(), enabled);

    QStringList titles;
    for (QAction* a : Frame()->menuBar()->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{"&File", "&View", "&Help"}));
}

void TestMainFrame::acceleratorsAreExactlyTheTable()
{
    QStringList keys;
    for (QAction* action : Frame()->findChildren<QAction*>(Qt::FindDirectChildrenOnly))
        for (const QKeySequence& key : action->shortcuts())
            keys << key.toString();
    keys.sort();
    QStringList expected{"Ctrl+C",    "Ctrl+Ins",      "Shift+Del", "Ctrl+X",   "Ctrl+V",
                         "Shift+Ins", "Alt+Backspace", "Ctrl+Z",    "Ctrl+N",   "Ctrl+O",
                         "Ctrl+P",    "Ctrl+S",        "F6",        "Shift+F6", "Ctrl+D"};
    expected.sort();
    QCOMPARE(keys, expected);

    // The bars list of the View menu ends with Customize, which nobody handles.
    QMenu* bars = FindAction(TopMenu(Frame(), "&View"), "&Toolbars and Docking Windows")->menu();
    emit bars->aboutToShow();
    QStringList entries;
    for (QAction* a : bars->actions())
        if (!a->isSeparator())
            entries << a->text();
    QVERIFY2(entries.contains("Standard") && entries.contains("Download List"),
             qPrintable(entries.join(", ")));
    QCOMPARE(entries.constLast(), QStringLiteral("Customize..."));
    QVERIFY(!bars->actions().constLast()->isEnabled());
}

void TestMainFrame::downloadListDockedAtTheBottom()
{
    COutputWnd* pane = Frame()->OutputWnd();
    QCOMPARE(pane->windowTitle(), QStringLiteral("Download List"));
    QCOMPARE(Frame()->dockWidgetArea(pane), Qt::BottomDockWidgetArea);
    QCOMPARE(Frame()->ToolBar()->windowTitle(), QStringLiteral("Standard"));
    // First start: large images with text labels.
    QVERIFY(Frame()->IsLargeToolbar());
    QCOMPARE(Frame()->ToolBar()->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QVERIFY(Frame()->statusBar()->findChild<QLabel*>("CAP"));
}

void TestMainFrame::openedFileTitlesItsTab()
{
    const int before = Frame()->Tabs().size();
    m_app.OpenDocumentFile(QStringLiteral("/tmp/somewhere/notes.txt"));
    QCOMPARE(Frame()->Tabs().size(), before + 1);
    QCOMPARE(Frame()->ActiveTab()->windowTitle(), QStringLiteral("notes.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(Frame()->ActiveView()->url().toString(), m_site.Url("/"),
                              kPageTimeoutMs);
    // New Tab takes "YouTube" again.
    m_app.OnFileNew();
    QCOMPARE(Frame()->ActiveTab()->windowTitle(), QStringLiteral("YouTube"));
}

void TestMainFrame::saveWritesAnEmptyFileAndRetitles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("saved tab.htm"));
    CChildFrame* tab = Frame()->ActiveTab();
    QVERIFY(tab->Document()->OnSaveDocument(path));
    QCOMPARE(QFileInfo(path).size(), 0);
    QCOMPARE(tab->windowTitle(), QStringLiteral("saved tab.htm"));
    QVERIFY(!tab->Document()->OnSaveDocument(dir.filePath(QStringLiteral("missing/x.htm"))));
}

void TestMainFrame::navigatePostSendsAForm()
{
    m_site.Route("/form", CScriptedHttpServer::Html("<html><body>posted</body></html>"));
    CQuillmoorView* view = Frame()->ActiveView();
    view->NavigatePost(m_site.Url("/form"), QStringLiteral("q=cats&x=1"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_site.Requests().isEmpty() &&
                                 m_site.Requests().constLast().startsWith("POST /form "),
                             kPageTimeoutMs);
    const QByteArray request = m_site.Requests().constLast();
    QVERIFY2(request.contains("\r\nContent-Type: application/x-www-form-urlencoded\r\n"),
             request.constData());
    QVERIFY(request.contains("\r\nContent-Length: 10\r\n"));
    view->WaitUntilReady();
    QVERIFY(view->IsDocumentReady());
}

void TestMainFrame::layoutIsKeptBetweenRuns()
{
    Frame()->SetLargeToolbar(false);
    Frame()->SaveLayout();
    CMainFrame next;
    QVERIFY(next.RestoreLayout());
    QVERIFY(!next.IsLargeToolbar());
    Frame()->SetLargeToolbar(true);
}

void TestMainFrame::helpDescribesTheCommandLine()
{
    QProcess program;
    program.start(QStringLiteral(QUILLMOOR_CONVERTER_DIR "/quillmoor"), {"--help"});
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);
    const QByteArray help = program.readAllStandardOutput();
    QVERIFY2(help.contains("[options] [file]") && help.contains("Opens a tab titled after the"),
             help.constData());
}

void TestMainFrame::windowsDialogActivatesAndCloses()
{
    m_app.OpenDocumentFile(QStringLiteral("/tmp/first.txt"));
    m_app.OpenDocumentFile(QStringLiteral("/tmp/second.txt"));
    const int before = Frame()->Tabs().size();
    CWindowsDialog dialog(Frame()->TabArea(), Frame());
    QListWidget* list = dialog.List();
    QCOMPARE(list->count(), before);
    QCOMPARE(list->currentItem()->text(), QStringLiteral("second.txt"));

    list->clearSelection();
    const auto find = [list](const QString& title) {
        return list->findItems(title, Qt::MatchExactly).constFirst();
    };
    find("second.txt")->setSelected(true);
    dialog.CloseSelected();
    QTRY_COMPARE(Frame()->Tabs().size(), before - 1);
    QCOMPARE(list->count(), before - 1);

    list->setCurrentItem(find("first.txt"));
    dialog.ActivateSelected();
    QCOMPARE(Frame()->ActiveTab()->windowTitle(), QStringLiteral("first.txt"));
}

CQuillmoorView* TestMainFrame::ShowInNewTab(const QString& url)
{
    m_app.OnFileNew();
    CQuillmoorView* view = Frame()->ActiveView();
    view->NavigateTo(url);
    if (!QTest::qWaitFor([&] { return view->url().toString() == url && view->IsDocumentReady(); },
                         kPageTimeoutMs))
        return nullptr;
    return view;
}

QWidget* TestMainFrame::FocusPage()
{
    Frame()->activateWindow();
    if (!QTest::qWaitForWindowActive(Frame()))
        return nullptr;
    CQuillmoorView* view = Frame()->ActiveView();
    QWidget* page = view->focusProxy() ? view->focusProxy() : view;
    page->setFocus();
    return QTest::qWaitFor([page] { return page->hasFocus(); }, 5000) ? page : nullptr;
}

void TestMainFrame::captionNamesTheActiveTab()
{
    m_app.OnFileNew();
    CChildFrame* youTube = Frame()->ActiveTab();
    QCOMPARE(Frame()->windowTitle(), QStringLiteral("Quillmoor - YouTube"));
    m_app.OpenDocumentFile(QStringLiteral("/tmp/caption/notes.txt"));
    CChildFrame* notes = Frame()->ActiveTab();
    QCOMPARE(Frame()->windowTitle(), QStringLiteral("Quillmoor - notes.txt"));
    Frame()->TabArea()->setActiveSubWindow(youTube);
    QCOMPARE(Frame()->windowTitle(), QStringLiteral("Quillmoor - YouTube"));

    // A tab renamed by Save renames the caption too.
    QTemporaryDir dir;
    Frame()->TabArea()->setActiveSubWindow(notes);
    QVERIFY(notes->Document()->OnSaveDocument(dir.filePath(QStringLiteral("kept.htm"))));
    QCOMPARE(Frame()->windowTitle(), QStringLiteral("Quillmoor - kept.htm"));
    notes->close();
    QTRY_COMPARE(Frame()->windowTitle(), QStringLiteral("Quillmoor - YouTube"));
}

void TestMainFrame::backAndForwardFollowTheCurrentTab()
{
    m_site.Route("/first", CScriptedHttpServer::Html("<html><body>first</body></html>"));
    m_site.Route("/second", CScriptedHttpServer::Html("<html><body>second</body></html>"));
    QAction* back = FindAction(TopMenu(Frame(), "&View"), "Back\tAlt+Left Arrow");
    QAction* forward = FindAction(TopMenu(Frame(), "&View"), "Forward\tAlt+Right Arrow");
    CTabArea* area = Frame()->TabArea();
    // A tab that shows nothing has no history at all.
    CChildFrame* empty = area->OpenTab(QStringLiteral("YouTube"), false);
    CQuillmoorView* view = ShowInNewTab(m_site.Url("/first"));
    QVERIFY(view);
    QPointer<CChildFrame> tab = area->ActiveTab();
    view->NavigateTo(m_site.Url("/second"));
    QTRY_VERIFY_WITH_TIMEOUT(back->isEnabled() && view->IsDocumentReady(), kPageTimeoutMs);

    area->setActiveSubWindow(empty);
    QVERIFY(!back->isEnabled());
    // A tab behind that changes its history leaves the commands as the tab in front has them.
    view->OnGoBack();
    QTRY_VERIFY_WITH_TIMEOUT(view->CanGoForward(), kPageTimeoutMs);
    QVERIFY(!forward->isEnabled());
    area->setActiveSubWindow(tab);
    QVERIFY(back->isEnabled() == view->CanGoBack() && forward->isEnabled());

    // The tab that takes a closed one's place brings its own state.
    tab->close();
    QTRY_VERIFY(tab.isNull());
    CQuillmoorView* now = Frame()->ActiveView();
    QVERIFY(now);
    QCOMPARE(back->isEnabled(), now->CanGoBack());
    QCOMPARE(forward->isEnabled(), now->CanGoForward());
}

void TestMainFrame::newWindowsOpenInANewTab_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("a link with target _blank, clicked") << "click";
    QTest::newRow("window.open from a script") << "window.open('/opened')";
    QTest::newRow("a pop-up window with its features")
        << "window.open('/opened', 'pop', 'width=300,height=200')";
}

void TestMainFrame::newWindowsOpenInANewTab()
{
    QFETCH(QString, how);
    m_site.Route("/links",
                 CScriptedHttpServer::Html(
                     "<html><body><a id='out' target='_blank' href='/opened' "
                     "style='display:block;width:300px;height:80px'>out</a></body></html>"));
    m_site.Route("/opened", CScriptedHttpServer::Html("<html><body>opened</body></html>"));
    CQuillmoorView* view = ShowInNewTab(m_site.Url("/links"));
    QVERIFY(view);
    const int before = Frame()->Tabs().size();

    if (how == QLatin1String("click")) {
        // A real click: the engine lets a page open windows on the user's gesture.
        QVERIFY(FocusPage());
        QWidget* surface = view->focusProxy() ? view->focusProxy() : view;
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(40, 40));
    } else {
        view->page()->runJavaScript(how);
    }
    QTRY_COMPARE_WITH_TIMEOUT(Frame()->Tabs().size(), before + 1, kPageTimeoutMs);
    CChildFrame* opened = Frame()->ActiveTab();
    QVERIFY(opened->View() != view);
    QCOMPARE(opened->windowTitle(), QStringLiteral("YouTube"));
    QTRY_COMPARE_WITH_TIMEOUT(opened->View()->url().toString(), m_site.Url("/opened"),
                              kPageTimeoutMs);
    QCOMPARE(Frame()->windowTitle(), QStringLiteral("Quillmoor - YouTube"));
}

void TestMainFrame::viewKeysWhileThePageHasTheFocus_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("alt");
    QTest::addColumn<QString>("effect");

    QTest::newRow("F5 reloads") << int(Qt::Key_F5) << false << "reload";
    QTest::newRow("Alt+Left goes back") << int(Qt::Key_Left) << true << "back";
    QTest::newRow("Alt+Right goes forward") << int(Qt::Key_Right) << true << "forward";
    QTest::newRow("Esc stops a page that is loading") << int(Qt::Key_Escape) << false << "stop";
}

void TestMainFrame::viewKeysWhileThePageHasTheFocus()
{
    QFETCH(int, key);
    QFETCH(bool, alt);
    QFETCH(QString, effect);
    m_site.Route("/first", CScriptedHttpServer::Html("<html><body>first</body></html>"));
    m_site.Route("/second", CScriptedHttpServer::Html("<html><body>second</body></html>"));
    CScriptedHttpServer::Reply slow = CScriptedHttpServer::Html("<html><body>slow</body></html>");
    slow.headDelayMs = 8000;
    m_site.Route("/slow", slow);

    CQuillmoorView* view = ShowInNewTab(m_site.Url("/first"));
    QVERIFY(view);
    if (effect != QLatin1String("reload")) {
        // Back needs a page behind, forward one ahead; a history the user made by a real load.
        view->NavigateTo(m_site.Url("/second"));
        QTRY_VERIFY_WITH_TIMEOUT(view->url().path() == "/second" && view->IsDocumentReady(),
                                 kPageTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(view->CanGoBack(), kPageTimeoutMs);
    }
    if (effect == QLatin1String("forward")) {
        view->OnGoBack();
        QTRY_VERIFY_WITH_TIMEOUT(view->CanGoForward() && view->IsDocumentReady(), kPageTimeoutMs);
    }
    if (effect == QLatin1String("stop")) {
        QSignalSpy started(view, &QWebEngineView::loadStarted);
        view->NavigateTo(m_site.Url("/slow"));
        QTRY_VERIFY_WITH_TIMEOUT(!started.isEmpty(), kPageTimeoutMs);
    }
    QSignalSpy started(view, &QWebEngineView::loadStarted);
    QSignalSpy finished(view, &QWebEngineView::loadFinished);

    QWidget* page = FocusPage();
    QVERIFY(page);
    QTest::keyClick(page, Qt::Key(key), alt ? Qt::AltModifier : Qt::NoModifier);
    if (effect == QLatin1String("reload")) {
        QTRY_VERIFY_WITH_TIMEOUT(!started.isEmpty() && !finished.isEmpty(), kPageTimeoutMs);
        QCOMPARE(view->url().path(), QStringLiteral("/first"));
    } else if (effect == QLatin1String("back")) {
        QTRY_COMPARE_WITH_TIMEOUT(view->url().path(), QStringLiteral("/first"), kPageTimeoutMs);
    } else if (effect == QLatin1String("forward")) {
        QTRY_COMPARE_WITH_TIMEOUT(view->url().path(), QStringLiteral("/second"), kPageTimeoutMs);
    } else {
        // Stopped long before the server would have answered.
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 5000);
        QCOMPARE(finished.constLast().value(0).toBool(), false);
    }
}

void TestMainFrame::viewKeysDoNothingInTheDownloadList()
{
    m_site.Route("/first", CScriptedHttpServer::Html("<html><body>first</body></html>"));
    m_site.Route("/second", CScriptedHttpServer::Html("<html><body>second</body></html>"));
    CQuillmoorView* view = ShowInNewTab(m_site.Url("/first"));
    QVERIFY(view);
    view->NavigateTo(m_site.Url("/second"));
    QTRY_VERIFY_WITH_TIMEOUT(view->CanGoBack() && view->IsDocumentReady(), kPageTimeoutMs);
    const qsizetype requests = m_site.Requests().size();

    Frame()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Frame()));
    QWidget* list = Frame()->OutputWnd()->List();
    list->setFocus();
    QTRY_VERIFY(list->hasFocus());
    QTest::keyClick(list, Qt::Key_Left, Qt::AltModifier);
    QTest::keyClick(list, Qt::Key_F5);
    QTest::qWait(500);
    QCOMPARE(view->url().path(), QStringLiteral("/second"));
    QCOMPARE(m_site.Requests().size(), requests);
}

void TestMainFrame::tabsShareOnePersistentProfile()
{
    CScriptedHttpServer::Reply setter =
        CScriptedHttpServer::Html("<html><body>cookie</body></html>");
    setter.head.replace("Connection: close\r\n",
                        "Connection: close\r\nSet-Cookie: sid=42; Max-Age=3600; Path=/\r\n");
    m_site.Route("/login", setter);
    m_site.Route("/after", CScriptedHttpServer::Html("<html><body>after</body></html>"));

    CQuillmoorView* first = ShowInNewTab(m_site.Url("/login"));
    QVERIFY(first);
    CQuillmoorView* second = ShowInNewTab(m_site.Url("/after"));
    QVERIFY(second);
    QWebEngineProfile* profile = first->page()->profile();
    QCOMPARE(second->page()->profile(), profile);
    QVERIFY(!profile->isOffTheRecord());
    QCOMPARE(profile->persistentCookiesPolicy(), QWebEngineProfile::AllowPersistentCookies);
    // Kept in the user's data folder, where the next start finds it.
    QVERIFY2(
        profile->persistentStoragePath().startsWith(qEnvironmentVariable("XDG_DATA_HOME") + u'/'),
        qPrintable(profile->persistentStoragePath()));
    // The login of one tab is the other tab's too.
    QVERIFY2(m_site.Requests().constLast().contains("\r\nCookie: sid=42\r\n"),
             m_site.Requests().constLast().constData());
}

void TestMainFrame::unknownSwitchesAreIgnored()
{
    QProcess program;
    program.start(QStringLiteral(QUILLMOOR_CONVERTER_DIR "/quillmoor"),
                  {"--no-such-switch", "--disable-gpu", "--help"});
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);
    const QByteArray warnings = program.readAllStandardError();
    QVERIFY2(warnings.contains("ignoring the unknown option --no-such-switch") &&
                 warnings.contains("ignoring the unknown option --disable-gpu"),
             warnings.constData());
    QVERIFY(program.readAllStandardOutput().contains("[options] [file]"));
}

void TestMainFrame::closingCancelsTransfersOnly()
{
    COutputWnd* pane = Frame()->OutputWnd();
    CDownloadThread downloading;
    CDownloadThread converting;
    pane->Rows()->AddJobRow(&downloading, "a.flv", "/v/a.flv");
    pane->Rows()->ShowDownloadProgress(&downloading, 100, 10, 5);
    pane->Rows()->AddJobRow(&converting, "b.mp3", "/v/b.mp3");
    pane->Rows()->ShowConversionProgress(&converting, 100, 10);
    pane->Rows()->ShowConversionQueued(&converting);
    pane->Rows()->ShowConversionProgress(&converting, 100, 10);
    QSignalSpy destroyed(pane, &QObject::destroyed);
    const QStringList statuses{pane->Rows()->CellText(0, CDownloadListModel::Status),
                               pane->Rows()->CellText(1, CDownloadListModel::Status)};
    QCOMPARE(statuses, (QStringList{"Downloading", "Converting"}));

    QVERIFY(Frame()->close());
    QCOMPARE(pane->Rows()->CellText(0, CDownloadListModel::Status), QStringLiteral("Cancelling"));
    QCOMPARE(pane->Rows()->CellText(1, CDownloadListModel::Status), QStringLiteral("Converting"));
    QVERIFY(downloading.m_bCancel);
    QVERIFY(!converting.m_bCancel);
    m_app.ExitInstance();
    QCOMPARE(destroyed.count(), 1);
}

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    CScriptedHttpServer site;
    site.Route("/", CScriptedHttpServer::Html(kHome));
    site.Route("/watch", CScriptedHttpServer::Html(kWatch));
    qputenv("QUILLMOOR_SITE_HOST", site.HostAndPort().toLatin1());
    // The maker's server announces a newer version than this test program's (it has no version
    // record, so any version is newer); the user answers No and the start-up goes on.
    site.Route("/quillmoor_version.xml",
               CScriptedHttpServer::Status(200, "OK",
                                           "<v><QuillmoorYouTube>1.1.0.1</QuillmoorYouTube></v>"));
    qputenv("QUILLMOOR_MAKER_HOST", site.HostAndPort().toLatin1());

    int appArgc = 1;
    char* appArgv[] = {argv[0], nullptr};
    CQuillmoorApp app(appArgc, appArgv);
    app.setQuitOnLastWindowClosed(false);
    QStringList prompts;
    {
        CMessageBoxAnswer no(QMessageBox::No);
        if (!app.InitInstance())
            return 1;
        prompts = no.texts;
    }
    if (prompts.size() != 1) {
        std::fprintf(stderr, "FAIL: the update prompt came %d times\n", int(prompts.size()));
        return 1;
    }
    TestMainFrame test(app, site);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainframe.moc"

// The web engine's own code (not built with the sanitizer) frees some objects through a base
// type of another size; that is its business, not this program's.
extern "C" const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}
