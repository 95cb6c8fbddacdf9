#pragma once

#include <QString>

// The fixed points the program relies on at the video site: its host, home page, the markers
// of a video page and the direct video address.
namespace VideoSite {

inline constexpr char kDefaultHost[] = "www.youtube.com";
inline constexpr char kHostVariable[] = "QUILLMOOR_SITE_HOST";

// Markers in a video page's HTML; matched without regard to the case of A to Z.
inline constexpr char16_t kVideoIdStart[] = u"\"video_id\": \"";
inline constexpr char16_t kTokenStart[] = u"\"t\": \"";
inline constexpr char16_t kValueEnd[] = u"\"";
inline constexpr char16_t kTitleStart[] = u"<title>YouTube - ";
inline constexpr char16_t kTitleEnd[] = u"</";

// The site's host with an optional ":port": QUILLMOOR_SITE_HOST, else www.youtube.com.
QString Host();

// "http://" and the host, no path.
QString HomePageUrl();

// The address that answers with the video itself. The values go in as extracted, without
// percent-encoding, because the site hands them out in that form.
QString DirectVideoUrl(const QString& videoId, const QString& token);

} // namespace VideoSite
