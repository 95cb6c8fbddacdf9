#pragma once

#include <QString>

// The start-up's update check: when the maker's server announces a newer version than ours,
// asks (string 114, no owner window) whether to fetch it. Yes opens the maker's download page
// and returns false: the start-up ends without a window. No, or any failure, returns true.
bool RunUpdateGate(const QString& ownVersion);
