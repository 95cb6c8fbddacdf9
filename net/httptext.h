#pragma once

#include <QString>

#include <functional>

// Asks the user for a user name and password for a server that answered 401; false: cancelled.
using CredentialsPrompt = std::function<bool(const QString& url, QString& user, QString& password)>;

// Fetches a small text document with GET. Returns a result code of CHttpAgentException (0 on
// success; any status but 401 is read as the document). text holds what was read, widened byte
// by byte, each 512-byte piece cut at its first zero byte, and decoded as UTF-8 when it
// mentions "utf-8" or "UTF-8". A 401 asks prompt (the program's default when empty).
int HttpGetText(QString url, QString& text, const CredentialsPrompt& prompt = {});

// The prompt HttpGetText uses when its caller gives none; the program sets a dialog.
void SetDefaultCredentialsPrompt(CredentialsPrompt prompt);
