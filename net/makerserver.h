#pragma once

#include <QString>

// The maker's server: its host and the addresses the program fetches from it.
namespace MakerServer {

inline constexpr char kDefaultHost[] = "www.norvane.example";
inline constexpr char kHostVariable[] = "QUILLMOOR_MAKER_HOST";

// The host with an optional ":port": QUILLMOOR_MAKER_HOST, else www.norvane.example.
QString Host();
QString HomePageUrl();         // "http://host/"
QString DownloadPageUrl();     // "http://host/download"
QString VersionDocumentUrl();  // "http://host/quillmoor_version.xml"
QString ConverterArchiveUrl(); // "http://host/download/ffmpeg.zip"

} // namespace MakerServer
