#include "browser/childframe.h"

#include "browser/quillmoordoc.h"
#include "browser/quillmoorview.h"

CChildFrame::CChildFrame(const QString& title, QWidget* parent) : QMdiSubWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_pDocument = new CQuillmoorDoc(this);
    m_pView = new CQuillmoorView(this);
    setWidget(m_pView);
    connect(m_pDocument, &CQuillmoorDoc::titleChanged, this, &QWidget::setWindowTitle);
    m_pDocument->OnNewDocument(title);
    setWindowTitle(m_pDocument->GetTitle());
}
