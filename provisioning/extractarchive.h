#pragma once

#include <QString>

#include <functional>

// Unpacks every entry of archive into folder under its bare name, reporting the percent after
// each entry (0 first, 100 last). stopped is asked before each entry. Returns false after any
// error; error then holds the reader's one-line description, or is empty when it was stopped.
bool ExtractArchive(const QString& archive, const QString& folder,
                    const std::function<void(int percent)>& progress,
                    const std::function<bool()>& stopped, QString& error);
