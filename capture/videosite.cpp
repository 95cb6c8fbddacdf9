#include "capture/videosite.h"

#include "net/hostoverride.h"

namespace VideoSite {

QString Host()
{
    return HostFromEnvironment(kHostVariable, QString::fromLatin1(kDefaultHost));
}

QString HomePageUrl()
{
    return QStringLiteral("http://") + Host();
}

QString DirectVideoUrl(const QString& videoId, const QString& token)
{
    return HomePageUrl() + QStringLiteral("/get_video?video_id=") + videoId +
           QStringLiteral("&t=") + token;
}

} // namespace VideoSite
