#pragma once
// The calendar store: the person's events, read from iCalendar (.ics) files.

#include <QDateTime>
#include <QString>

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace nimbo::platform {

struct CalendarEvent {
    // UID of the event; for one occurrence of a repeating event, the UID followed by
    // "/" and the occurrence's original start in UTC (e.g. "abc/20260302T083000Z").
    // Absent when the event has no UID.
    std::optional<QString> identifier;
    std::optional<QString> title;     // SUMMARY
    QDateTime start;
    QDateTime end;
    std::optional<QString> location;  // LOCATION
    std::optional<QString> notes;     // DESCRIPTION
};

class CalendarStore {
public:
    virtual ~CalendarStore() = default;
    // Every event, with repeating events expanded into their occurrences, that
    // overlaps [from, to): it starts before `to` and ends after `from` (an event of no
    // length counts when it starts inside the range). Ordered by start. Safe to call
    // from any thread; reads files, so never call it on the UI thread.
    virtual std::vector<CalendarEvent> events(const QDateTime& from, const QDateTime& to) = 0;

    // The store in force: an IcsCalendarStore over defaultSources(), unless a test
    // installed its own.
    static CalendarStore& current();
    // Installs `store` (not owned) for the rest of the process; nullptr restores the default.
    static void install(CalendarStore* store);
};

// Reads the listed sources on every call: a folder contributes each of its *.ics
// files, a file itself. Missing sources, unreadable or malformed files are skipped.
class IcsCalendarStore final : public CalendarStore {
public:
    explicit IcsCalendarStore(std::vector<std::filesystem::path> sources);

    // The app's own folder, applicationSupportDir()/"Calendars", then the desktop's
    // personal calendar as Evolution keeps it: XDG data home +
    // "/evolution/calendar/system/calendar.ics".
    static std::vector<std::filesystem::path> defaultSources();

    std::vector<CalendarEvent> events(const QDateTime& from, const QDateTime& to) override;

private:
    std::vector<std::filesystem::path> sources_;
};

// The events of one iCalendar text that overlap [from, to), expanded and in file
// order (occurrences of one event in time order). Empty for a text that is not a
// calendar. Events without a readable start are left out.
std::vector<CalendarEvent> readIcsEvents(std::string_view text, const QDateTime& from, const QDateTime& to);

}  // namespace nimbo::platform
