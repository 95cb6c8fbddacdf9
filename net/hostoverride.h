#pragma once

#include <QString>

// The host (with an optional ":port") that the environment variable names, or fallback when it
// is unset or blank. Lets tests and demos point the program at servers on 127.0.0.1.
QString HostFromEnvironment(const char* variable, const QString& fallback);
