#pragma once

#include <QString>

#include <functional>

class QDBusConnection;
class QObject;

// Hands a file or an address to the desktop's program for it (xdg-open on Linux). Tests put a
// handler of their own in its place.
class CShellLayer final {
public:
    // Returns 0 when the request was handed over, else the opener's failure code.
    using Handler = std::function<int(const QString& target)>;
    // Receives what Handler returns, once the opener has answered.
    using Done = std::function<void(int code)>;

    // xdg-open's failure codes, and the ones given for an opener that cannot run or crashed.
    static constexpr int kFileNotFound = 2;
    static constexpr int kNoTool = 3;
    static constexpr int kActionFailed = 4;
    // How long an opener may run before the request counts as handed over: xdg-open without a
    // desktop of its own runs the browser in the foreground and ends only with it.
    static constexpr int kWaitLimitMs = 10000;

    // Starts the opener and returns at once, without waiting for its verdict: 0 when it could
    // be started, else kNoTool. For callers that report nothing whatever happens.
    static int Open(const QString& target);
    // Starts the opener and calls done on the user-interface thread with its verdict, unless
    // context is destroyed first. The window keeps running meanwhile. An opener still running
    // after kWaitLimitMs counts as handed over (0) and is left to finish. With a handler in
    // place, done gets the handler's result before this returns.
    static void OpenAndWait(const QString& target, QObject* context, Done done);
    // Shows the file at path selected in the desktop's file manager, through the file manager
    // interface on the session bus (org.freedesktop.FileManager1, which the bus may start: file
    // managers provide it on demand). Without that interface, or when it fails, the opener gets the
    // file's folder instead. Returns at once and prints nothing, whatever happens.
    static void ShowInFolder(const QString& path);
    // The same on a bus of the caller's choice: the session bus above.
    static void ShowInFolder(const QString& path, const QDBusConnection& bus);
    // Replaces the opener; returns the one it replaced. An empty handler restores xdg-open.
    static Handler SetHandler(Handler handler);

    // For tests only: the wait limit of the requests that follow; 0 puts kWaitLimitMs back.
    static void SetWaitLimitMsForTests(int ms);
};
