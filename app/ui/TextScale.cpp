#include "app/ui/TextScale.h"

#include "platform/device/SettingsFile.h"
#include "platform/files/AppPaths.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJSEngine>

#include <algorithm>

namespace nimbo {
namespace {
const QString kKey = QStringLiteral("textSizePercent");
}

TextScale::TextScale(std::filesystem::path file, QObject* parent)
    : QObject(parent), file_(std::make_unique<platform::SettingsFile>(std::move(file))) {
    // Only one of the steps is taken from the file; anything else reads as the standard size.
    const int stored = file_->value(kKey).toInt(standard);
    if (std::find(steps.begin(), steps.end(), stored) != steps.end()) percent_ = stored;
}

TextScale::~TextScale() = default;

TextScale& TextScale::shared() {
    static TextScale* scale = new TextScale(platform::configDir() / "display.json");  // lives for the process
    return *scale;
}

TextScale* TextScale::create(QQmlEngine*, QJSEngine*) {
    TextScale* scale = &shared();
    QJSEngine::setObjectOwnership(scale, QJSEngine::CppOwnership);
    return scale;
}

void TextScale::larger() {
    const auto next = std::upper_bound(steps.begin(), steps.end(), percent_);
    if (next != steps.end()) setPercent(*next);
}

void TextScale::smaller() {
    const auto at = std::lower_bound(steps.begin(), steps.end(), percent_);
    if (at != steps.begin()) setPercent(*(at - 1));
}

void TextScale::reset() { setPercent(standard); }

void TextScale::flush() { file_->flush(); }

void TextScale::setPercent(int value) {
    if (value == percent_) return;
    percent_ = value;
    file_->insert(kKey, value);
    emit percentChanged();
}

void Clipboard::setText(const QString& text) { QGuiApplication::clipboard()->setText(text); }

}  // namespace nimbo
