#include "platform/url/UrlOpener.h"

#include "platform/Replaceable.h"

#include <QDesktopServices>
#include <QUrl>

namespace nimbo::platform {
namespace {
class DesktopUrlOpener final : public UrlOpener {
public:
    bool open(const QString& url) override { return QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode)); }
};

// Lets only web pages through to the opener in force.
class WebPageGate final : public UrlOpener {
public:
    bool open(const QString& url) override {
        static DesktopUrlOpener desktop;
        return isOpenableUrl(url) && Replaceable<UrlOpener>::current(desktop).open(url);
    }
};
}  // namespace

UrlOpener& UrlOpener::current() {
    static WebPageGate gate;
    return gate;
}

void UrlOpener::install(UrlOpener* opener) { Replaceable<UrlOpener>::install(opener); }

bool isOpenableUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) return false;
    const QString scheme = url.scheme().toLower();
    return (scheme == "http" || scheme == "https") && !url.host().isEmpty();
}

}  // namespace nimbo::platform
