#include "net/makerserver.h"

#include "net/hostoverride.h"

namespace MakerServer {

QString Host()
{
    return HostFromEnvironment(kHostVariable, QString::fromLatin1(kDefaultHost));
}

QString HomePageUrl()
{
    return QStringLiteral("http://") + Host() + u'/';
}

QString DownloadPageUrl()
{
    return HomePageUrl() + QStringLiteral("download");
}

QString VersionDocumentUrl()
{
    return HomePageUrl() + QStringLiteral("quillmoor_version.xml");
}

QString ConverterArchiveUrl()
{
    return HomePageUrl() + QStringLiteral("download/ffmpeg.zip");
}

} // namespace MakerServer
