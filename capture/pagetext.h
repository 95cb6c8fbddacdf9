#pragma once

#include <QString>
#include <QStringView>

// Text operations that turn a video page's HTML into clean values for a download job.
// Markers match without regard to the case of A to Z only (res/asciicase.h).

// Replaces every non-overlapping occurrence of oldText, scanning left to right and
// case-sensitively; text inserted by the call is not scanned again. Returns the count.
int ReplaceAll(QString& text, QStringView oldText, QStringView newText);

// The text between the first startMarker and the next endMarker behind it, entity-decoded
// and trimmed; result is cleared first. Returns the result's length (0 when not found).
int ExtractBetween(QString source, QString startMarker, QString endMarker, QString& result);

// Decodes the seven character references of the entity table, in table order.
void DecodeHtmlEntities(QString& text);

// Removes the nine characters that cannot stand in a Windows file name.
void RemoveFileNameChars(QString& text);
