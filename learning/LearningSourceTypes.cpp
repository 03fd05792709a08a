#include "learning/LearningSourceTypes.h"

namespace nimbo {

const std::vector<LearningSourceCategory>& LearningSourceCategory::all() {
    using Kind = LearningSourcePermissionKind;
    static const std::vector<LearningSourceCategory> catalogue{
        {"messages", "Messages (SMS)",
         "Reads message metadata and content to help Nimbo understand your communications context.", Kind::none, false},
        {"email", "Email", "Reads email account headers/content (via an OAuth-connected mail account) for context.",
         Kind::none, false},
        {"calendar", "Calendar",
         "Reads your calendar events (title, time, attendees) to help Nimbo understand your schedule.", Kind::calendar,
         true},
        {"photos", "Photos",
         "Reads photo metadata (filenames, dates, albums) from your device's photo library. Image content itself is "
         "not uploaded in this pass.",
         Kind::photos, false},
        {"videos", "Videos", "Reads video metadata (filenames, dates, durations) from your device's photo library.",
         Kind::photos, false},
        {"files", "Local device files",
         "Reads file names and folder structure from files you've granted access to via the Files app picker.",
         Kind::none, false},
        {"screen", "Screen", "Observes on-screen content (app names, visible text) while you use your device.",
         Kind::notDetermined, false},
        {"location", "Location", "Reads your device's approximate/precise location periodically.", Kind::location,
         false},
        {"sensors", "Sensors", "Reads device motion/environment sensors (accelerometer, step counter, etc.).",
         Kind::motion, false},
        {"network", "Network (WAN/LAN activity)",
         "Reads network connection state and activity (Wi-Fi/mobile data usage patterns).", Kind::localNetwork, false},
    };
    return catalogue;
}

const LearningSourceCategory* LearningSourceCategory::byId(const QString& id) {
    for (const LearningSourceCategory& category : all()) {
        if (category.id == id) return &category;
    }
    return nullptr;
}

}  // namespace nimbo
