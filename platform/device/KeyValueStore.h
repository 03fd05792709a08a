#pragma once
// The per-app key-value store: one boolean or text per key, kept across launches.

#include <QString>

#include <filesystem>
#include <memory>

namespace nimbo::platform {

class SettingsFile;

class KeyValueStore {
public:
    virtual ~KeyValueStore() = default;
    // The stored value; false when the key was never set.
    virtual bool boolForKey(const QString& key) const = 0;
    virtual void setBool(const QString& key, bool value) = 0;
    // The stored text; "" when the key was never set. Setting "" removes the key.
    virtual QString stringForKey(const QString& key) const = 0;
    virtual void setString(const QString& key, const QString& value) = 0;

    // The store in force: the file-backed one under configDir(), unless a test
    // installed its own.
    static KeyValueStore& current();
    // Installs `store` (not owned) for the rest of the process; nullptr restores the default.
    static void install(KeyValueStore* store);
};

// Keeps the values in one JSON file (configDir()/"preferences.json" by default),
// written atomically in the background. A value of the other type reads as false or "".
class FileKeyValueStore final : public KeyValueStore {
public:
    explicit FileKeyValueStore(std::filesystem::path file);
    ~FileKeyValueStore() override;

    bool boolForKey(const QString& key) const override;
    void setBool(const QString& key, bool value) override;
    QString stringForKey(const QString& key) const override;
    void setString(const QString& key, const QString& value) override;
    // Writes pending changes now (the store also does so as it goes away).
    void flush();

    static std::filesystem::path defaultFile();

private:
    std::unique_ptr<SettingsFile> file_;
};

}  // namespace nimbo::platform
