#pragma once

#include <QMainWindow>
#include <QPointer>

class CChildFrame;
class COutputWnd;
class CQuillmoorView;
class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QToolBar;
class QToolButton;

// The program's main window: browser tabs in a tabbed area, the menu bar, the "Standard"
// toolbar, the status bar and the Download List docked along the bottom. Closing it cancels the
// running transfers first.
class CMainFrame final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CMainFrame)

public:
    // The commands whose handlers live outside the frame (the application's, and those that
    // arrive with later features); the frame shows the ones nobody connects as disabled.
    struct Commands {
        QAction* newTab = nullptr;
        QAction* open = nullptr;
        QAction* about = nullptr;
    };

    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Opens a tab whose document is titled title and makes it the active one; it shows the video
    // site's home page unless showHome is false (a page's new window shows its own page).
    CChildFrame* OpenTab(const QString& title, bool showHome = true);
    CChildFrame* ActiveTab() const;
    QList<CChildFrame*> Tabs() const;
    CQuillmoorView* ActiveView() const;

    COutputWnd* m_wndOutput = nullptr;
    QMdiArea* MdiArea() const { return m_pMdiArea; }
    QToolBar* ToolBar() const { return m_wndToolBar; }
    const Commands& ApplicationCommands() const { return m_commands; }

    // Large 32-pixel images with text labels, or small images alone.
    void SetLargeToolbar(bool large);
    bool IsLargeToolbar() const;

    // Window placement, bars and the dock layout, kept between runs.
    void SaveLayout() const;
    bool RestoreLayout();

    QMenu* createPopupMenu() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateDockingWindows();
    void SetUpTabs();
    void UpdateCommandStates();
    void UpdateFrameTitle();
    void OnCloseTab();
    void OnFileSave();
    void OnWindowManager();
    void OnNextPane();
    void ShowDocumentMenu();
    void UpdateTabCloseButtons();

    QMdiArea* m_pMdiArea = nullptr;
    // The tab the commands go to. The area forgets its active tab whenever the main window is
    // not the active window, which must not disable the commands.
    // Held as a QObject: while a tab is being destroyed it is no CChildFrame any more, and
    // ActiveTab()'s cast then gives null.
    QPointer<QObject> m_pCurrentTab;
    QToolBar* m_wndToolBar = nullptr;
    QToolButton* m_pDocumentMenuButton = nullptr;
    QLabel* m_pIdleMessage = nullptr;
    Commands m_commands;
    QAction* m_actDownloadVideo = nullptr;
    QAction* m_actClose = nullptr;
    QAction* m_actSave = nullptr;
    QAction* m_actPrint = nullptr;
    QAction* m_actExit = nullptr;
    QAction* m_actStatusBar = nullptr;
    QAction* m_actBack = nullptr;
    QAction* m_actForward = nullptr;
    QAction* m_actRefresh = nullptr;
    QAction* m_actStop = nullptr;
    QAction* m_actCustomize = nullptr;
    QAction* m_actWindows = nullptr;
    QMenu* m_pBarsMenu = nullptr;
};
