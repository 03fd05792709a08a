#pragma once
// A small JSON object kept in one owner-only file: read once on first use, changed in
// memory, and written back atomically (temporary file, then rename) on a background
// worker, so that a crash mid-write leaves the previous file whole. An unreadable or
// corrupt file reads as empty. Safe to use from any thread.

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <filesystem>
#include <memory>

namespace nimbo::platform {

class SettingsFile {
public:
    explicit SettingsFile(std::filesystem::path file);
    // Writes any change not yet on disk before going away.
    ~SettingsFile();

    QJsonValue value(const QString& key) const;
    QJsonObject values() const;
    // Changes one key in memory at once and schedules the write.
    void insert(const QString& key, const QJsonValue& value);
    void remove(const QString& key);
    // Writes the latest values now, on the calling thread (a no-op when nothing
    // changed since the last write).
    void flush();

    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

private:
    struct State;
    void changed();
    std::shared_ptr<State> state_;
};

}  // namespace nimbo::platform
