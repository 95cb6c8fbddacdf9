#pragma once

#include <QString>

// Asks the maker's server for the latest version. True when the document was fetched, with
// text the version it announces (empty when it could not be read from the document); false,
// with text empty, when the fetch failed.
bool GetLatestVersion(QString& text);
