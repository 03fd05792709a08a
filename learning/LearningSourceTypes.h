#pragma once
// The learning-source categories (a fixed catalogue) and the records exchanged with
// the service about them.

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace nimbo {

// The operating-system permission a category needs before it may collect; the
// order of the cases is fixed.
enum class LearningSourcePermissionKind { none, calendar, photos, location, motion, localNetwork, notDetermined };

struct LearningSourceCategory {
    QString id;  // key in server paths, in the server's "category" and in the stored switch key
    QString displayName;
    QString description;
    LearningSourcePermissionKind permissionKind;
    bool fullyWired;  // true only where data is really collected and uploaded

    // The ten categories, in the order the screen lists them.
    static const std::vector<LearningSourceCategory>& all();
    // The category whose id equals `id` exactly, or nullptr.
    static const LearningSourceCategory* byId(const QString& id);
};

// One category's state as the service reports it.
struct LearningSourceState {
    QString category;
    bool connected = false;
    std::optional<QString> lastSyncAt;  // the service's timestamp text, unparsed
    std::int64_t itemCount = 0;
};

// One item to upload for a category.
struct LearningSourceSyncItem {
    QString itemId;
    QString title;
    QString content;
    std::optional<QString> atIso;  // ISO 8601 time of the item; sent as "at"
};

}  // namespace nimbo
