#include "browser/quillmoorview.h"

#include "capture/downloadvideocommand.h"
#include "capture/videosite.h"
#include "downloadlist/outputwnd.h"

#include <QAction>
#include <QPrintDialog>
#include <QPrinter>

CQuillmoorView::CQuillmoorView(QWidget* parent) : CExHtmlView(parent)
{
    for (const auto action : {QWebEnginePage::Back, QWebEnginePage::Forward})
        connect(pageAction(action), &QAction::changed, this, &CQuillmoorView::OnCommandStateChange);
    AddViewKeys();
}

void CQuillmoorView::AddViewKeys()
{
    // The keys the View menu names work while the page has the focus, as in a browser, and
    // nowhere else: they belong to the view, not to the frame's accelerators.
    const struct {
        const char* key;
        void (CQuillmoorView::*command)();
    } keys[] = {
        {"Alt+Left", &CQuillmoorView::OnGoBack},
        {"Alt+Right", &CQuillmoorView::OnGoForward},
        {"F5", &CQuillmoorView::OnRefresh},
        {"Esc", &CQuillmoorView::OnStop},
    };
    for (const auto& entry : keys) {
        auto* action = new QAction(this);
        action->setShortcut(QKeySequence(QString::fromLatin1(entry.key)));
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, entry.command);
        addAction(action);
    }
}

QWebEngineView* CQuillmoorView::createWindow(QWebEnginePage::WebWindowType)
{
    // Tabs, windows, background tabs and pop-ups alike become a new tab, made active.
    return m_openWindow ? m_openWindow() : nullptr;
}

void CQuillmoorView::OnInitialUpdate()
{
    NavigateTo(VideoSite::HomePageUrl());
}

void CQuillmoorView::OnCommandStateChange()
{
    const bool back = pageAction(QWebEnginePage::Back)->isEnabled();
    const bool forward = pageAction(QWebEnginePage::Forward)->isEnabled();
    if (back == m_bCanGoBack && forward == m_bCanGoForward)
        return;
    m_bCanGoBack = back;
    m_bCanGoForward = forward;
    emit commandStateChanged();
}

void CQuillmoorView::OnGoBack()
{
    back();
}

void CQuillmoorView::OnGoForward()
{
    forward();
}

void CQuillmoorView::OnStop()
{
    stop();
}

void CQuillmoorView::OnRefresh()
{
    reload();
}

void CQuillmoorView::OnFilePrint()
{
    // The printer must outlive the engine's asynchronous print job.
    auto* printer = new QPrinter(QPrinter::HighResolution);
    QPrintDialog dialog(printer, this);
    if (dialog.exec() != QDialog::Accepted) {
        delete printer;
        return;
    }
    connect(
        this, &QWebEngineView::printFinished, this, [printer] { delete printer; },
        Qt::SingleShotConnection);
    print(printer);
}

void CQuillmoorView::OnDownloadVideo()
{
    // The main window holds exactly one Download List.
    auto* pane = window()->findChild<COutputWnd*>();
    if (!pane)
        return;
    CDownloadVideoCommand command(*this, *pane, [this] {
        QString text;
        GetDocumentHtml(text);
        return text;
    });
    command.Run();
    // This view may have closed while the command ran; nothing here touches it again.
}
