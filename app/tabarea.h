#pragma once

#include <QMdiArea>
#include <QPointer>

class CChildFrame;
class CQuillmoorView;
class QAction;
class QTabBar;
class QToolButton;

// The main frame's tabbed area: opens the browser tabs, keeps the one the commands go to,
// decorates the tab row, and passes the current tab's signals on as its own.
class CTabArea final : public QMdiArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CTabArea)

public:
    explicit CTabArea(QWidget* parent = nullptr);

    // Opens a tab whose document is titled title and makes it the current one; it shows the
    // video site's home page unless showHome is false (a page's new window shows its own page).
    CChildFrame* OpenTab(const QString& title, bool showHome = true);
    // The tab the commands go to; null when no tab is open.
    CChildFrame* ActiveTab() const;
    QList<CChildFrame*> Tabs() const;
    CQuillmoorView* ActiveView() const;

    // The command the document-list menu ends with, after the open tabs.
    void SetWindowsAction(QAction* action) { m_pWindowsAction = action; }

signals:
    // The current tab is another one; null when the last tab has closed. The other two signals
    // follow with the new tab's state.
    void currentTabChanged(CChildFrame* tab);
    // The current tab's caption.
    void titleChanged(const QString& title);
    // Whether the current tab's page can go back or forward.
    void backForwardChanged(bool canGoBack, bool canGoForward);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetUpTabRow();
    void SetCurrentTab(CChildFrame* tab);
    void OnTabDestroyed();
    void ShowDocumentMenu();
    void UpdateTabCloseButtons();

    // The area forgets its active sub-window whenever the main window is not the active window,
    // which must not disable the commands; this one stays. Held as a QObject: while a tab is
    // being destroyed it is no CChildFrame any more, and ActiveTab()'s cast then gives null.
    QPointer<QObject> m_pCurrentTab;
    QTabBar* m_pTabBar = nullptr;
    QToolButton* m_pDocumentMenuButton = nullptr;
    QAction* m_pWindowsAction = nullptr;
    // The context of every connection that calls into this class. Not the area itself: QMdiArea
    // cuts a closed sub-window's connections to it, and its base classes destroy the tabs and the
    // tab row after this class is gone, when this member has taken the connections with it.
    QObject m_callbacks;
};
