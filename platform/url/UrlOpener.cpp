#include "platform/url/UrlOpener.h"

#include <QDesktopServices>
#include <QUrl>

#include <atomic>

namespace nimbo::platform {
namespace {
class DesktopUrlOpener final : public UrlOpener {
public:
    bool open(const QString& url) override {
        if (!isOpenableUrl(url)) return false;
        return QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode));
    }
};

std::atomic<UrlOpener*> installed{nullptr};
}  // namespace

UrlOpener& UrlOpener::current() {
    static DesktopUrlOpener desktop;
    UrlOpener* opener = installed.load();
    return opener ? *opener : desktop;
}

void UrlOpener::install(UrlOpener* opener) { installed.store(opener); }

bool isOpenableUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.scheme().isEmpty()) return false;
    const QString scheme = url.scheme().toLower();
    if ((scheme == "http" || scheme == "https") && url.host().isEmpty()) return false;
    return true;
}

}  // namespace nimbo::platform
