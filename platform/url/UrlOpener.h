#pragma once
// Opening a URL outside the app (the desktop's default handler on Linux).

#include <QString>

namespace nimbo::platform {

class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // Opens `url` if it is a valid absolute URL; returns whether it was handed on.
    virtual bool open(const QString& url) = 0;

    // The opener in force: the desktop's, unless a test installed its own.
    static UrlOpener& current();
    // Installs `opener` (not owned) for the rest of the process; nullptr restores the desktop's.
    static void install(UrlOpener* opener);
};

// Parses `text` as an absolute URL with a scheme and, for http/https, a host.
bool isOpenableUrl(const QString& text);

}  // namespace nimbo::platform
