#include "platform/url/UrlOpener.h"

#include "platform/Replaceable.h"

#include <QDesktopServices>
#include <QUrl>

namespace nimbo::platform {
namespace {
class DesktopUrlOpener final : public UrlOpener {
public:
    bool open(const QString& url) override {
        if (!isOpenableUrl(url)) return false;
        return QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode));
    }
};
}  // namespace

UrlOpener& UrlOpener::current() {
    static DesktopUrlOpener desktop;
    return Replaceable<UrlOpener>::current(desktop);
}

void UrlOpener::install(UrlOpener* opener) { Replaceable<UrlOpener>::install(opener); }

bool isOpenableUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.scheme().isEmpty()) return false;
    const QString scheme = url.scheme().toLower();
    if ((scheme == "http" || scheme == "https") && url.host().isEmpty()) return false;
    return true;
}

}  // namespace nimbo::platform
