#pragma once

#include <QString>

// Asks the maker's server for the latest version. True when the document was fetched, with
// text the version it announces (empty when it could not be read from the document); false,
// with text empty, when the fetch failed.
bool GetLatestVersion(QString& text);

// The version a fetched document announces: the text of the first QuillmoorYouTube element
// directly under the root; empty when the document is not XML or has no such element.
QString VersionInDocument(const QString& document);
