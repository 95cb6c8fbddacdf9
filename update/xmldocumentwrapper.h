#pragma once

#include "update/xmlnodewrapper.h"

#include <QDomDocument>

// A parsed XML document: parse text, then reach its root element.
class CXmlDocumentWrapper {
public:
    virtual ~CXmlDocumentWrapper() = default;

    // False when the text is not well-formed XML; the document is then empty.
    bool LoadXML(const QString& text);
    // The root element; none when nothing was parsed.
    CXmlNodeWrapper AsNode() const;

private:
    QDomDocument m_document;
};
