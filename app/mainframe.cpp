#include "app/mainframe.h"

#include "app/windowsdialog.h"
#include "browser/childframe.h"
#include "browser/quillmoordoc.h"
#include "browser/quillmoorview.h"
#include "downloadlist/outputlist.h"
#include "downloadlist/outputwnd.h"
#include "res/stringtable.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>

namespace {

// A command's prompt: the status-bar text before the line break, the tooltip after it.
void SetPrompt(QAction* action, int id)
{
    const QString prompt = LoadResString(id);
    action->setStatusTip(prompt.section(u'\n', 0, 0));
    action->setToolTip(prompt.section(u'\n', 1, 1));
    // Toolbar labels are the short names, not the menu texts with their key names.
    action->setIconText(prompt.section(u'\n', 1, 1));
}

QIcon ToolbarIcon(const QString& name)
{
    QIcon icon(QStringLiteral(":/icons/%1.svg").arg(name));
    icon.addFile(QStringLiteral(":/icons/%1-hot.svg").arg(name), {}, QIcon::Active);
    return icon;
}

QAction* MakeAction(QObject* parent, const QString& text, int promptId, const QString& icon = {})
{
    auto* action = new QAction(text, parent);
    if (promptId)
        SetPrompt(action, promptId);
    if (!icon.isEmpty())
        action->setIcon(ToolbarIcon(icon));
    action->setIconVisibleInMenu(false);
    return action;
}

constexpr int kSmallIcon = 16;
constexpr int kLargeIcon = 32;

} // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainFrame"));
    setWindowTitle(LoadResString(IDR_QUILLMOOR));
    setWindowIcon(QIcon(QStringLiteral(":/icons/quillmoor.svg")));
    m_pTabArea = new CTabArea(this);
    setCentralWidget(m_pTabArea);
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateDockingWindows();
    m_pTabArea->SetWindowsAction(m_actWindows);
    connect(m_pTabArea, &CTabArea::currentTabChanged, this, &CMainFrame::OnCurrentTabChanged);
    connect(m_pTabArea, &CTabArea::titleChanged, this, &CMainFrame::UpdateFrameTitle);
    connect(m_pTabArea, &CTabArea::backForwardChanged, this, &CMainFrame::UpdateBackForward);
    OnCurrentTabChanged(nullptr);
    UpdateBackForward(false, false);
    resize(1100, 760);
}

CMainFrame::~CMainFrame()
{
    // The tab area goes with the base class, after this frame's members: it must not call back.
    disconnect(m_pTabArea, nullptr, this, nullptr);
}

void CMainFrame::CreateActions()
{
    CreateApplicationActions();
    CreateFileActions();
    CreateViewActions();
    CreateEditKeys();
    CreatePaneKeys();
    CreateBarActions();
}

void CMainFrame::CreateApplicationActions()
{
    m_commands.newTab =
        MakeAction(this, QStringLiteral("&New YouTube Tab\tCtrl+N"), ID_FILE_NEW, "newtab");
    m_commands.newTab->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
    m_commands.open = MakeAction(this, QStringLiteral("Open"), ID_FILE_OPEN);
    m_commands.open->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    m_commands.about =
        MakeAction(this, QStringLiteral("&About Quillmoor..."), ID_APP_ABOUT, "about");
    // Enabled once the application connects it: a command without a handler is disabled.
    m_commands.about->setEnabled(false);
    addAction(m_commands.open);
}

void CMainFrame::CreateFileActions()
{
    m_actClose = MakeAction(this, QStringLiteral("&Close Tab"), ID_FILE_CLOSE);
    connect(m_actClose, &QAction::triggered, this, &CMainFrame::OnCloseTab);
    m_actExit = MakeAction(this, QStringLiteral("E&xit"), ID_APP_EXIT);
    connect(m_actExit, &QAction::triggered, this, &QWidget::close);
    m_actSave = MakeAction(this, QStringLiteral("Save"), ID_FILE_SAVE);
    m_actSave->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    connect(m_actSave, &QAction::triggered, this, &CMainFrame::OnFileSave);
    m_actPrint = MakeAction(this, QStringLiteral("Print"), ID_FILE_PRINT);
    m_actPrint->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    RouteToView(m_actPrint, &CQuillmoorView::OnFilePrint);
    addActions({m_actSave, m_actPrint});
}

void CMainFrame::CreateViewActions()
{
    // The key names in these texts are only part of the texts: no key is bound to them.
    m_actBack = MakeAction(this, QStringLiteral("Back\tAlt+Left Arrow"), ID_VIEW_BACK, "back");
    m_actForward =
        MakeAction(this, QStringLiteral("Forward\tAlt+Right Arrow"), ID_VIEW_FORWARD, "forward");
    m_actRefresh = MakeAction(this, QStringLiteral("Refresh\tF5"), ID_VIEW_REFRESH, "refresh");
    m_actStop = MakeAction(this, QStringLiteral("Stop\tEsc"), ID_VIEW_STOP, "stop");
    m_actDownloadVideo = MakeAction(this, QStringLiteral("&Download Video...\tCtrl+D"),
                                    ID_FILE_DOWNLOAD_VIDEO, "download");
    m_actDownloadVideo->setShortcut(QKeySequence(QStringLiteral("Ctrl+D")));
    // The view's commands: each goes to the current tab, and is enabled while there is one.
    RouteToView(m_actDownloadVideo, &CQuillmoorView::OnDownloadVideo);
    RouteToView(m_actBack, &CQuillmoorView::OnGoBack);
    RouteToView(m_actForward, &CQuillmoorView::OnGoForward);
    RouteToView(m_actRefresh, &CQuillmoorView::OnRefresh);
    RouteToView(m_actStop, &CQuillmoorView::OnStop);
}

void CMainFrame::CreateEditKeys()
{
    // The edit keys reach the page in the current tab.
    const struct {
        QWebEnginePage::WebAction action;
        const char* keys[2];
    } editKeys[] = {
        {QWebEnginePage::Copy, {"Ctrl+C", "Ctrl+Ins"}},
        {QWebEnginePage::Cut, {"Shift+Del", "Ctrl+X"}},
        {QWebEnginePage::Paste, {"Ctrl+V", "Shift+Ins"}},
        {QWebEnginePage::Undo, {"Alt+Backspace", "Ctrl+Z"}},
    };
    for (const auto& edit : editKeys) {
        auto* action = new QAction(this);
        action->setShortcuts({QKeySequence(QString::fromLatin1(edit.keys[0])),
                              QKeySequence(QString::fromLatin1(edit.keys[1]))});
        RouteToView(action, [webAction = edit.action](CQuillmoorView& view) {
            view.triggerPageAction(webAction);
        });
        addAction(action);
    }
}

void CMainFrame::CreatePaneKeys()
{
    auto* nextPane = new QAction(this);
    nextPane->setShortcut(QKeySequence(Qt::Key_F6));
    connect(nextPane, &QAction::triggered, this, &CMainFrame::OnNextPane);
    auto* previousPane = new QAction(this);
    previousPane->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    connect(previousPane, &QAction::triggered, this, &CMainFrame::OnNextPane);
    addActions({nextPane, previousPane});
}

void CMainFrame::CreateBarActions()
{
    m_actCustomize = new QAction(LoadResString(IDS_TOOLBAR_CUSTOMIZE), this);
    m_actCustomize->setEnabled(false);
    m_actWindows = new QAction(LoadResString(IDS_WINDOWS_MANAGER), this);
    connect(m_actWindows, &QAction::triggered, this, &CMainFrame::OnWindowManager);
}

void CMainFrame::RouteToView(QAction* action, std::function<void(CQuillmoorView&)> command)
{
    connect(action, &QAction::triggered, this, [this, command = std::move(command)] {
        if (CQuillmoorView* view = ActiveView())
            command(*view);
    });
}

void CMainFrame::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(m_commands.newTab);
    file->addAction(m_actDownloadVideo);
    file->addAction(m_actClose);
    file->addSeparator();
    file->addAction(m_actExit);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    m_pBarsMenu = view->addMenu(QStringLiteral("&Toolbars and Docking Windows"));
    connect(m_pBarsMenu, &QMenu::aboutToShow, this, [this] {
        m_pBarsMenu->clear();
        QMenu* list = createPopupMenu();
        m_pBarsMenu->addActions(list->actions());
        list->setParent(m_pBarsMenu);
    });
    m_actStatusBar = MakeAction(this, QStringLiteral("&Status Bar"), ID_VIEW_STATUS_BAR);
    m_actStatusBar->setCheckable(true);
    m_actStatusBar->setChecked(true);
    view->addAction(m_actStatusBar);
    view->addSeparator();
    QMenu* goTo = view->addMenu(QStringLiteral("Go to"));
    goTo->addAction(m_actBack);
    goTo->addAction(m_actForward);
    view->addAction(m_actRefresh);
    view->addAction(m_actStop);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(m_commands.about);
}

QMenu* CMainFrame::createPopupMenu()
{
    // The frame's bars and panes, as the bar area's context menu lists them, then Customize.
    QMenu* menu = QMainWindow::createPopupMenu();
    if (!menu)
        menu = new QMenu(this);
    menu->addSeparator();
    menu->addAction(m_actCustomize);
    return menu;
}

void CMainFrame::CreateToolBar()
{
    m_wndToolBar = addToolBar(LoadResString(IDS_TOOLBAR_STANDARD));
    m_wndToolBar->setObjectName(QStringLiteral("Standard"));
    m_wndToolBar->setAllowedAreas(Qt::TopToolBarArea);
    m_wndToolBar->addAction(m_commands.newTab);
    m_wndToolBar->addAction(m_actDownloadVideo);
    m_wndToolBar->addSeparator();
    m_wndToolBar->addActions({m_actBack, m_actForward, m_actStop, m_actRefresh});
    m_wndToolBar->addSeparator();
    m_wndToolBar->addAction(m_commands.about);
    SetLargeToolbar(false);
}

void CMainFrame::SetLargeToolbar(bool large)
{
    m_wndToolBar->setIconSize(
        QSize(large ? kLargeIcon : kSmallIcon, large ? kLargeIcon : kSmallIcon));
    m_wndToolBar->setToolButtonStyle(large ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
}

bool CMainFrame::IsLargeToolbar() const
{
    return m_wndToolBar->iconSize().width() >= kLargeIcon;
}

void CMainFrame::CreateStatusBar()
{
    m_pIdleMessage = new QLabel(LoadResString(AFX_IDS_IDLEMESSAGE));
    statusBar()->addWidget(m_pIdleMessage, 1);
    // The lock states cannot be read portably; the indicators stand as the panes show them.
    for (const int id : {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL}) {
        auto* indicator = new QLabel(LoadResString(id));
        indicator->setObjectName(LoadResString(id));
        indicator->setEnabled(false);
        indicator->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        statusBar()->addPermanentWidget(indicator);
    }
    connect(m_actStatusBar, &QAction::toggled, statusBar(), &QWidget::setVisible);
}

void CMainFrame::CreateDockingWindows()
{
    m_wndOutput = new COutputWnd(this);
    m_wndOutput->setWindowTitle(LoadResString(IDS_OUTPUT_WND));
    m_wndOutput->setWindowIcon(QIcon(QStringLiteral(":/icons/downloadlist.svg")));
    m_wndOutput->setAllowedAreas(Qt::AllDockWidgetAreas);
    addDockWidget(Qt::BottomDockWidgetArea, m_wndOutput);
}

void CMainFrame::OnCurrentTabChanged(CChildFrame* tab)
{
    for (QAction* action :
         {m_actDownloadVideo, m_actRefresh, m_actStop, m_actPrint, m_actSave, m_actClose})
        action->setEnabled(tab != nullptr);
    // With a tab, its title follows at once (titleChanged).
    if (!tab)
        setWindowTitle(LoadResString(IDR_QUILLMOOR));
}

void CMainFrame::UpdateBackForward(bool canGoBack, bool canGoForward)
{
    m_actBack->setEnabled(canGoBack);
    m_actForward->setEnabled(canGoForward);
}

void CMainFrame::UpdateFrameTitle(const QString& tabTitle)
{
    // The program's name, then the current tab's document, as a document window's caption reads.
    setWindowTitle(LoadResString(IDR_QUILLMOOR) + QStringLiteral(" - ") + tabTitle);
}

void CMainFrame::OnCloseTab()
{
    if (CChildFrame* tab = ActiveTab())
        tab->close();
}

void CMainFrame::OnFileSave()
{
    CChildFrame* tab = ActiveTab();
    if (!tab)
        return;
    const QString path = QFileDialog::getSaveFileName(this, QString(), tab->Document()->GetTitle());
    if (!path.isEmpty())
        tab->Document()->OnSaveDocument(path);
}

void CMainFrame::OnWindowManager()
{
    CWindowsDialog dialog(m_pTabArea, this);
    dialog.exec();
}

void CMainFrame::OnNextPane()
{
    // F6 and Shift+F6 move the focus between the two panes: the page and the Download List.
    QWidget* list = m_wndOutput->isVisible() ? m_wndOutput->List() : nullptr;
    QWidget* next = list && !list->hasFocus() ? list : ActiveView();
    if (next)
        next->setFocus(Qt::ShortcutFocusReason);
}

void CMainFrame::SaveLayout() const
{
    QSettings settings;
    settings.setValue(QStringLiteral("MainFrame/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("MainFrame/state"), saveState());
    settings.setValue(QStringLiteral("MainFrame/largeToolbar"), IsLargeToolbar());
}

bool CMainFrame::RestoreLayout()
{
    QSettings settings;
    if (!settings.contains(QStringLiteral("MainFrame/largeToolbar")))
        return false;
    restoreGeometry(settings.value(QStringLiteral("MainFrame/geometry")).toByteArray());
    restoreState(settings.value(QStringLiteral("MainFrame/state")).toByteArray());
    SetLargeToolbar(settings.value(QStringLiteral("MainFrame/largeToolbar")).toBool());
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    m_wndOutput->CancelAll();
    SaveLayout();
    event->accept();
}
