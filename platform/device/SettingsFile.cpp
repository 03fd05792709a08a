#include "platform/device/SettingsFile.h"

#include "platform/async/Async.h"
#include "platform/files/AppPaths.h"

#include <QFile>
#include <QJsonDocument>

#include <cstdint>
#include <filesystem>
#include <exception>
#include <mutex>

namespace nimbo::platform {
namespace {
// Far beyond any settings file; a larger one is not ours and reads as empty.
constexpr qint64 kMaxFileBytes = 1 << 20;

// The file's object. A file that exists but cannot be read as one is kept aside
// (keepUnreadableCopy) before anything is written over it, so that no stored value
// is lost for good; the settings then start empty.
QJsonObject readObject(const std::filesystem::path& file) {
    try {
        createPrivateDirectories(file.parent_path());  // also clears what a crashed write left there
    } catch (const std::exception&) {
        // The file is still read if it can be; the next write tries the folder again.
    }
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return {};
    QFile in(QString::fromStdString(file.string()));
    if (in.open(QIODevice::ReadOnly) && in.size() <= kMaxFileBytes) {
        const QJsonDocument document = QJsonDocument::fromJson(in.read(kMaxFileBytes));
        if (document.isObject()) return document.object();
    }
    keepUnreadableCopy(file);
    return {};
}
}  // namespace

struct SettingsFile::State {
    std::filesystem::path file;
    std::mutex mutex;  // guards the fields below
    bool loaded = false;
    QJsonObject values;
    std::uint64_t generation = 0;
    std::mutex writeMutex;  // one writer at a time; guards `written`
    std::uint64_t written = 0;

    QJsonObject& loadedValues() {
        if (!loaded) {
            values = readObject(file);
            loaded = true;
        }
        return values;
    }

    // Writes the newest snapshot unless a writer already did.
    void write() {
        std::lock_guard writeLock(writeMutex);
        QJsonObject snapshot;
        std::uint64_t snapshotGeneration = 0;
        {
            std::lock_guard lock(mutex);
            if (generation == written) return;
            snapshot = values;
            snapshotGeneration = generation;
        }
        try {
            writeFileAtomically(file, QJsonDocument(snapshot).toJson(QJsonDocument::Compact).toStdString());
            written = snapshotGeneration;
        } catch (const std::exception&) {
            // The values stay in memory; the next change tries again.
        }
    }
};

SettingsFile::SettingsFile(std::filesystem::path file) : state_(std::make_shared<State>()) {
    state_->file = std::move(file);
}

SettingsFile::~SettingsFile() { flush(); }

QJsonValue SettingsFile::value(const QString& key) const {
    std::lock_guard lock(state_->mutex);
    return state_->loadedValues().value(key);
}

QJsonObject SettingsFile::values() const {
    std::lock_guard lock(state_->mutex);
    return state_->loadedValues();
}

void SettingsFile::insert(const QString& key, const QJsonValue& value) {
    {
        std::lock_guard lock(state_->mutex);
        QJsonObject& values = state_->loadedValues();
        if (values.value(key) == value) return;
        values.insert(key, value);
        ++state_->generation;
    }
    changed();
}

void SettingsFile::remove(const QString& key) {
    {
        std::lock_guard lock(state_->mutex);
        QJsonObject& values = state_->loadedValues();
        if (!values.contains(key)) return;
        values.remove(key);
        ++state_->generation;
    }
    changed();
}

void SettingsFile::flush() { state_->write(); }

void SettingsFile::changed() {
    detail::startOnWorker([state = state_] { state->write(); });
}

}  // namespace nimbo::platform
