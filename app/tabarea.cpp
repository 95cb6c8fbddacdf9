#include "app/tabarea.h"

#include "browser/childframe.h"
#include "browser/quillmoordoc.h"
#include "browser/quillmoorview.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QTabBar>
#include <QToolButton>

CTabArea::CTabArea(QWidget* parent) : QMdiArea(parent)
{
    SetUpTabRow();
    connect(this, &QMdiArea::subWindowActivated, &m_callbacks, [this](QMdiSubWindow* window) {
        if (auto* tab = qobject_cast<CChildFrame*>(window))
            SetCurrentTab(tab);
    });
}

void CTabArea::SetUpTabRow()
{
    setViewMode(QMdiArea::TabbedView);
    setTabsMovable(true);
    setTabsClosable(true);
    setDocumentMode(true);
    m_pTabBar = findChild<QTabBar*>();
    if (m_pTabBar) {
        m_pTabBar->setExpanding(false);
        m_pTabBar->setDrawBase(true);
        connect(m_pTabBar, &QTabBar::currentChanged, &m_callbacks,
                [this] { UpdateTabCloseButtons(); });
        m_pTabBar->installEventFilter(this);
    }
    // The list of open tabs sits at the right end of the tab row.
    m_pDocumentMenuButton = new QToolButton(this);
    m_pDocumentMenuButton->setObjectName(QStringLiteral("DocumentMenu"));
    m_pDocumentMenuButton->setArrowType(Qt::DownArrow);
    m_pDocumentMenuButton->setAutoRaise(true);
    m_pDocumentMenuButton->setToolTip(tr("Open tabs"));
    connect(m_pDocumentMenuButton, &QToolButton::clicked, this, &CTabArea::ShowDocumentMenu);
}

bool CTabArea::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_pTabBar)
        return QMdiArea::eventFilter(watched, event);
    // Keep the document-list button at the right end of the tab row, and only the active tab
    // with a close button.
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move ||
        event->type() == QEvent::Show) {
        const int side = m_pTabBar->height();
        m_pDocumentMenuButton->setGeometry(width() - side, m_pTabBar->y(), side, side);
        m_pDocumentMenuButton->raise();
        m_pDocumentMenuButton->show();
    }
    if (event->type() == QEvent::LayoutRequest)
        UpdateTabCloseButtons();
    return false;
}

void CTabArea::UpdateTabCloseButtons()
{
    if (!m_pTabBar)
        return;
    for (int i = 0; i < m_pTabBar->count(); ++i) {
        for (const auto side : {QTabBar::LeftSide, QTabBar::RightSide}) {
            if (QWidget* button = m_pTabBar->tabButton(i, side))
                button->setVisible(i == m_pTabBar->currentIndex());
        }
        m_pTabBar->setTabIcon(i, QIcon());
    }
}

void CTabArea::ShowDocumentMenu()
{
    QMenu menu(this);
    for (CChildFrame* tab : Tabs()) {
        QAction* item = menu.addAction(tab->windowTitle());
        item->setCheckable(true);
        item->setChecked(tab == ActiveTab());
        connect(item, &QAction::triggered, tab, [this, tab] {
            setActiveSubWindow(tab);
            SetCurrentTab(tab);
        });
    }
    menu.addSeparator();
    if (m_pWindowsAction)
        menu.addAction(m_pWindowsAction);
    menu.exec(m_pDocumentMenuButton->mapToGlobal(QPoint(0, m_pDocumentMenuButton->height())));
}

CChildFrame* CTabArea::OpenTab(const QString& title, bool showHome)
{
    auto* tab = new CChildFrame(title);
    addSubWindow(tab);
    CQuillmoorView* view = tab->View();
    // Only the current tab speaks for the area; a tab that becomes current is announced whole.
    connect(view, &CQuillmoorView::commandStateChanged, &m_callbacks, [this, view] {
        if (view == ActiveView())
            emit backForwardChanged(view->CanGoBack(), view->CanGoForward());
    });
    connect(tab, &QWidget::windowTitleChanged, &m_callbacks, [this, tab](const QString& caption) {
        if (tab == ActiveTab())
            emit titleChanged(caption);
    });
    // A page's new window is a new tab under the tabs' own title, showing what the page asked.
    view->SetWindowOpener(
        [this] { return OpenTab(QString::fromLatin1(CQuillmoorDoc::kTabTitle), false)->View(); });
    connect(tab, &QObject::destroyed, &m_callbacks, [this] { OnTabDestroyed(); });
    tab->showMaximized();
    setActiveSubWindow(tab);
    SetCurrentTab(tab);
    if (showHome)
        view->OnInitialUpdate();
    UpdateTabCloseButtons();
    return tab;
}

void CTabArea::OnTabDestroyed()
{
    // A widget tells of its end before its guards are cleared: m_pCurrentTab may still point at
    // the tab that is going, whose view is gone already. That tab is no CChildFrame any more, so
    // neither ActiveTab() nor Tabs() gives it.
    if (ActiveTab())
        return;
    const QList<CChildFrame*> tabs = Tabs();
    SetCurrentTab(tabs.isEmpty() ? nullptr : tabs.constLast());
}

void CTabArea::SetCurrentTab(CChildFrame* tab)
{
    if (m_pCurrentTab.data() == tab)
        return;
    m_pCurrentTab = tab;
    emit currentTabChanged(tab);
    if (tab)
        emit titleChanged(tab->windowTitle());
    CQuillmoorView* view = tab ? tab->View() : nullptr;
    emit backForwardChanged(view && view->CanGoBack(), view && view->CanGoForward());
}

CChildFrame* CTabArea::ActiveTab() const
{
    return qobject_cast<CChildFrame*>(m_pCurrentTab.data());
}

QList<CChildFrame*> CTabArea::Tabs() const
{
    QList<CChildFrame*> tabs;
    for (QMdiSubWindow* window : subWindowList())
        if (auto* tab = qobject_cast<CChildFrame*>(window))
            tabs << tab;
    return tabs;
}

CQuillmoorView* CTabArea::ActiveView() const
{
    CChildFrame* tab = ActiveTab();
    return tab ? tab->View() : nullptr;
}
