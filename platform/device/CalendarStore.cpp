#include "platform/device/CalendarStore.h"

#include "platform/Replaceable.h"
#include "platform/files/AppPaths.h"

#include <QFile>

#include <algorithm>
#include <system_error>

namespace nimbo::platform {
namespace {
namespace fs = std::filesystem;

// A calendar file larger than this is not read.
constexpr qint64 kMaxCalendarBytes = 16 << 20;


// The files of one source: a folder's *.ics files in name order, or the file itself.
std::vector<fs::path> calendarFiles(const fs::path& source) {
    std::error_code ec;
    if (fs::is_regular_file(source, ec)) return {source};
    std::vector<fs::path> files;
    if (!fs::is_directory(source, ec)) return files;
    for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".ics" && it->is_regular_file(ec)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::optional<QByteArray> readSmallFile(const fs::path& file) {
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly) || in.size() > kMaxCalendarBytes) return std::nullopt;
    return in.read(kMaxCalendarBytes);
}
}  // namespace

CalendarStore& CalendarStore::current() {
    static IcsCalendarStore standard(IcsCalendarStore::defaultSources());
    return Replaceable<CalendarStore>::current(standard);
}

void CalendarStore::install(CalendarStore* store) { Replaceable<CalendarStore>::install(store); }

IcsCalendarStore::IcsCalendarStore(std::vector<fs::path> sources) : sources_(std::move(sources)) {}

std::vector<fs::path> IcsCalendarStore::defaultSources() {
    const fs::path support = applicationSupportDir();  // XDG data home + "/NimboChat"
    return {support / "Calendars", support.parent_path() / "evolution/calendar/system/calendar.ics"};
}

std::vector<CalendarEvent> IcsCalendarStore::events(const QDateTime& from, const QDateTime& to) {
    std::vector<CalendarEvent> all;
    for (const fs::path& source : sources_) {
        for (const fs::path& file : calendarFiles(source)) {
            const std::optional<QByteArray> bytes = readSmallFile(file);
            if (!bytes) continue;
            std::vector<CalendarEvent> events = readIcsEvents(std::string_view(bytes->constData(), bytes->size()), from, to);
            std::move(events.begin(), events.end(), std::back_inserter(all));
        }
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const CalendarEvent& a, const CalendarEvent& b) { return a.start < b.start; });
    return all;
}

}  // namespace nimbo::platform
