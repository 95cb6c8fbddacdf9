#pragma once

#include "app/tabarea.h"

#include <QMainWindow>

#include <functional>

class CChildFrame;
class COutputWnd;
class CQuillmoorView;
class QAction;
class QLabel;
class QMenu;
class QToolBar;

// The program's main window: the tab area framed by the bars and the docked Download List.
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

    // The tabs: the frame's commands go to the tab area's current tab.
    CTabArea* TabArea() const { return m_pTabArea; }
    CChildFrame* ActiveTab() const { return m_pTabArea->ActiveTab(); }
    QList<CChildFrame*> Tabs() const { return m_pTabArea->Tabs(); }
    CQuillmoorView* ActiveView() const { return m_pTabArea->ActiveView(); }

    COutputWnd* OutputWnd() const { return m_wndOutput; }
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
    // Cancels every transfer still starting or downloading, without asking; keeps the layout.
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void CreateApplicationActions();
    void CreateFileActions();
    void CreateViewActions();
    void CreateEditKeys();
    void CreatePaneKeys();
    void CreateBarActions();
    // Connects action to command, run on the current tab's view when there is one.
    void RouteToView(QAction* action, std::function<void(CQuillmoorView&)> command);
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateDockingWindows();
    void OnCurrentTabChanged(CChildFrame* tab);
    void UpdateBackForward(bool canGoBack, bool canGoForward);
    void UpdateFrameTitle(const QString& tabTitle);
    void OnCloseTab();
    void OnFileSave();
    void OnWindowManager();
    void OnNextPane();

    CTabArea* m_pTabArea = nullptr;
    COutputWnd* m_wndOutput = nullptr;
    QToolBar* m_wndToolBar = nullptr;
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
