#include "update/latestversion.h"

#include "net/httptext.h"
#include "net/makerserver.h"
#include "update/xmldocumentwrapper.h"

namespace {

constexpr char kVersionElement[] = "QuillmoorYouTube";

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
    CXmlDocumentWrapper xml;
    xml.LoadXML(document);
    return xml.AsNode().FindChild(QString::fromLatin1(kVersionElement)).GetText();
}
