#pragma once

#include <QString>
#include <QStringList>

// What the program relies on from the outside converter: its files in the program's folder
// and the command-line preset of every output format.
namespace Converter {

// File names that must stand in the program's folder for conversions to run.
QStringList RequiredFiles();

// The converter's executable, the first of RequiredFiles().
QString ExecutableName();

// The folder of the running executable.
QString ProgramFolder();

// True when every required file is in folder. Where the converter is a program file of its
// own (not Windows), it counts only when it can be run: one that cannot would fail every
// conversion, and its download would never be offered again.
bool IsPresent(const QString& folder);

// The preset of a format as one command template with two "%s": the input, then the output.
// Any value outside 1 to 7 gets the Xvid preset.
const char* PresetTemplate(int format);

// The preset's command line as the converter's arguments (without the program name): the
// template split at its blanks, each quoted "%s" becoming exactly one argument, the input
// first. No shell sees them, so any character in a path reaches the converter as it is.
QStringList PresetArguments(int format, const QString& input, const QString& output);

} // namespace Converter
