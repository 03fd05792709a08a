#pragma once
// Opening a URL outside the app (the desktop's default handler on Linux).

#include <QString>

namespace nimbo::platform {

class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // Hands `url` on; returns whether it was handed on.
    virtual bool open(const QString& url) = 0;

    // The opener every caller uses. It opens only web pages (see isOpenableUrl) and
    // refuses anything else before the desktop's opener, or one a test installed,
    // sees it.
    static UrlOpener& current();
    // The opener for links in replies: web pages and mail addresses (see isOpenableLink).
    static UrlOpener& links();
    // Installs `opener` (not owned) for the rest of the process; nullptr restores the desktop's.
    static void install(UrlOpener* opener);
};

// True for an absolute http or https URL with a host. Other schemes (file:, smb:,
// a custom handler's) would make the desktop open local files or start programs.
bool isOpenableUrl(const QString& text);
// isOpenableUrl, or a mailto: URL naming exactly one address and nothing else (no
// subject, body or further recipients that a link could fill in behind the reader).
bool isOpenableLink(const QString& text);

}  // namespace nimbo::platform
