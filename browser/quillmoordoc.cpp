#include "browser/quillmoordoc.h"

#include <QFile>
#include <QFileInfo>

CQuillmoorDoc::CQuillmoorDoc(QObject* parent) : QObject(parent) {}

bool CQuillmoorDoc::OnNewDocument(const QString& title)
{
    SetTitle(title);
    return true;
}

bool CQuillmoorDoc::OnSaveDocument(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.close();
    SetTitle(QFileInfo(path).fileName());
    return true;
}

void CQuillmoorDoc::SetTitle(const QString& title)
{
    if (title == m_strTitle)
        return;
    m_strTitle = title;
    emit titleChanged(title);
}
