#pragma once

#include <QString>
#include <QStringView>

// The program's one rule for ignoring case: only the letters A to Z fold, whatever the user's
// locale, so a folded text keeps the positions and length of the original.

// Whether a and b are equal once A to Z are folded.
bool EqualsIgnoringAsciiCase(QStringView a, QStringView b);

// The first position at or after from where needle stands in text once A to Z are folded;
// -1 when it does not. An empty needle stands at from.
qsizetype IndexOfIgnoringAsciiCase(QStringView text, QStringView needle, qsizetype from = 0);
