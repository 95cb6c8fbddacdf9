#pragma once

#include <QString>
#include <QStringView>

// The program's one rule for ignoring case: only the letters A to Z fold, whatever the user's
// locale, so a folded text keeps the positions and length of the original.

// Lower-cases A to Z and nothing else.
QString FoldAsciiCase(QString text);

// Whether a and b are equal once A to Z are folded.
bool EqualsIgnoringAsciiCase(QStringView a, QStringView b);
