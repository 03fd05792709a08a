#include "platform/url/UrlOpener.h"

#include "platform/Replaceable.h"

#include <QDesktopServices>
#include <QRegularExpression>
#include <QUrl>

namespace nimbo::platform {
namespace {
class DesktopUrlOpener final : public UrlOpener {
public:
    bool open(const QString& url) override { return QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode)); }
};

// Lets only what `passes` accepts through to the opener in force.
template <bool (*passes)(const QString&)>
class Gate final : public UrlOpener {
public:
    bool open(const QString& url) override {
        static DesktopUrlOpener desktop;
        return passes(url) && Replaceable<UrlOpener>::current(desktop).open(url);
    }
};
}  // namespace

UrlOpener& UrlOpener::current() {
    static Gate<isOpenableUrl> gate;
    return gate;
}

UrlOpener& UrlOpener::links() {
    static Gate<isOpenableLink> gate;
    return gate;
}

void UrlOpener::install(UrlOpener* opener) { Replaceable<UrlOpener>::install(opener); }

bool isOpenableUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) return false;
    const QString scheme = url.scheme().toLower();
    return (scheme == "http" || scheme == "https") && !url.host().isEmpty();
}

bool isOpenableLink(const QString& text) {
    if (isOpenableUrl(text)) return true;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) != 0) return false;
    const QString address = url.path(QUrl::FullyDecoded);
    static const QRegularExpression oneAddress(QStringLiteral(R"(^[^@\s,;:<>"()\[\]]+@[^@\s,;:<>"()\[\]]+$)"));
    return !url.hasQuery() && !url.hasFragment() && url.authority().isEmpty() && oneAddress.match(address).hasMatch();
}

}  // namespace nimbo::platform
