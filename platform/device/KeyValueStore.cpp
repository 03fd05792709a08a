#include "platform/device/KeyValueStore.h"

#include "platform/Replaceable.h"
#include "platform/device/SettingsFile.h"
#include "platform/files/AppPaths.h"

namespace nimbo::platform {
KeyValueStore& KeyValueStore::current() {
    static FileKeyValueStore standard(FileKeyValueStore::defaultFile());
    return Replaceable<KeyValueStore>::current(standard);
}

void KeyValueStore::install(KeyValueStore* store) { Replaceable<KeyValueStore>::install(store); }

FileKeyValueStore::FileKeyValueStore(std::filesystem::path file)
    : file_(std::make_unique<SettingsFile>(std::move(file))) {}

FileKeyValueStore::~FileKeyValueStore() = default;

std::filesystem::path FileKeyValueStore::defaultFile() { return configDir() / "preferences.json"; }

bool FileKeyValueStore::boolForKey(const QString& key) const { return file_->value(key).toBool(false); }

void FileKeyValueStore::setBool(const QString& key, bool value) { file_->insert(key, value); }

QString FileKeyValueStore::stringForKey(const QString& key) const { return file_->value(key).toString(); }

void FileKeyValueStore::setString(const QString& key, const QString& value) {
    if (value.isEmpty()) {
        file_->remove(key);
    } else {
        file_->insert(key, value);
    }
}

void FileKeyValueStore::flush() { file_->flush(); }

}  // namespace nimbo::platform
