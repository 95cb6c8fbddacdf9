#include "update/latestversion.h"

#include "net/httptext.h"
#include "net/makerserver.h"
#include "update/xmldocumentwrapper.h"

#include <QXmlStreamReader>

namespace {

constexpr char kVersionElement[] = "QuillmoorYouTube";

// The DOM builds and frees nested elements recursively, in a time that grows with the square
// of the depth: a megabyte of nested elements takes minutes and then overflows the stack. A
// version document is two levels deep.
constexpr int kMaxDepth = 256;

bool NestsTooDeep(const QString& document)
{
    QXmlStreamReader reader(document);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > kMaxDepth)
            return true;
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    return false;
}

} // namespace

bool GetLatestVersion(QString& text)
{
    text.clear();
    QString document;
    if (HttpGetText(MakerServer::VersionDocumentUrl(), document) != 0)
        return false;
    text = VersionInDocument(document);
    return true;
}

QString VersionInDocument(const QString& document)
{
    if (NestsTooDeep(document))
        return {};
    CXmlDocumentWrapper xml;
    xml.LoadXML(document);
    return xml.AsNode().FindChild(QString::fromLatin1(kVersionElement)).GetText();
}
