#pragma once

#include <QString>

#include <functional>

// Hands a file or an address to the desktop's program for it (xdg-open on Linux). Tests put a
// handler of their own in its place.
class CShellLayer final {
public:
    // Returns 0 when the request was handed over, else the opener's failure code.
    using Handler = std::function<int(const QString& target)>;

    static int Open(const QString& target);
    // Replaces the opener; returns the one it replaced. An empty handler restores xdg-open.
    static Handler SetHandler(Handler handler);
};
