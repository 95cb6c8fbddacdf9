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
    connect(this, &QWebEngineView::printFinished, this, [printer] { delete printer; },
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
