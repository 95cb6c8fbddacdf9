#pragma once

#include <QString>

#include <functional>

// No byte for this long ends a request as a network failure (8): a silent server must not hold
// the start-up for ever.
inline constexpr int kHttpTextStallLimitMs = 30000;
// A longer document is a network failure (8); the version document is a few lines.
inline constexpr qsizetype kHttpTextMaxBytes = 1024 * 1024;

// Asks the user for a user name and password for a server that answered 401; false: cancelled.
using CredentialsPrompt = std::function<bool(const QString& url, QString& user, QString& password)>;

// Fetches a small text document with GET. Returns a result code of CHttpAgentException (0 on
// success; any status but 401 is read as the document). text holds what was read, widened byte
// by byte, each 512-byte piece of the body cut at its first zero byte, and decoded as UTF-8 when
// it mentions "utf-8" or "UTF-8". A 401 asks prompt (the program's default when empty).
int HttpGetText(QString url, QString& text, const CredentialsPrompt& prompt = {});

// The prompt HttpGetText uses when its caller gives none; the program sets a dialog.
void SetDefaultCredentialsPrompt(CredentialsPrompt prompt);

// For tests only: the stall limit of the requests that follow, so that a stalled server fails in
// a test's time; 0 puts kHttpTextStallLimitMs back.
void SetHttpTextStallLimitMsForTests(int ms);
