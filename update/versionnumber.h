#pragma once

#include <QString>

// A version text ("1.1.0.1", also with commas) as a comparable number: 1000, 100, 10 and 1
// times its first four components. A component of 10 or more carries into the next place.
int VersionToNumber(QString text);
