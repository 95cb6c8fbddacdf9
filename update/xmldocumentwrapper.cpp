#include "update/xmldocumentwrapper.h"

#include <QDomElement>

bool CXmlDocumentWrapper::LoadXML(const QString& text)
{
    // Qt's reader caps entity expansion, so a document built to explode stops early.
    if (m_document.setContent(text))
        return true;
    m_document.clear();
    return false;
}

CXmlNodeWrapper CXmlDocumentWrapper::AsNode() const
{
    return CXmlNodeWrapper(m_document.documentElement());
}
