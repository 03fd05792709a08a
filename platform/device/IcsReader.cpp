// Reading events out of iCalendar text with libical, repeating events expanded.
#include "platform/device/CalendarStore.h"

#include <libical/ical.h>

#include <QDate>
#include <QTime>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace nimbo::platform {
namespace {
// Bounds the walk through one repeating event (a daily event started decades ago
// takes a few ten thousand steps).
constexpr int kMaxRecurrenceSteps = 200'000;

struct ComponentFree {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentFree>;

// libical keeps process-wide caches (time zones, error state); one reader at a time.
std::mutex& libicalMutex() {
    static std::mutex mutex;
    return mutex;
}

// A libical time as an instant: UTC stays UTC, a time with a known zone is converted
// from it, a floating time or a date (local midnight) is read in the machine's zone.
QDateTime toDateTime(const icaltimetype& t) {
    if (icaltime_is_null_time(t)) return {};
    const QDate date(t.year, t.month, t.day);
    if (!date.isValid()) return {};
    if (t.is_date) return QDateTime(date, QTime(0, 0), Qt::LocalTime);
    const QTime time(t.hour, t.minute, t.second);
    if (!time.isValid()) return {};
    if (icaltime_is_utc(t)) return QDateTime(date, time, Qt::UTC);
    if (t.zone) return QDateTime::fromSecsSinceEpoch(icaltime_as_timet_with_zone(t, t.zone));
    return QDateTime(date, time, Qt::LocalTime);
}

std::optional<QString> text(const char* value) {
    if (!value) return std::nullopt;
    return QString::fromUtf8(value);
}

QString occurrenceStamp(const QDateTime& originalStart) {
    return originalStart.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

bool overlaps(const QDateTime& start, const QDateTime& end, const QDateTime& from, const QDateTime& to) {
    if (start >= to) return false;
    return end > from || (start == end && start >= from);
}

struct Range {
    QDateTime from;
    QDateTime to;
};

// One VEVENT: the fields every occurrence shares, and where its repetitions fall.
class EventReader {
public:
    EventReader(icalcomponent* event, const Range& range) : event_(event), range_(range) {
        start_ = toDateTime(icalcomponent_get_dtstart(event));
        const QDateTime end = toDateTime(icalcomponent_get_dtend(event));
        durationSecs_ = end.isValid() ? std::max<qint64>(0, start_.secsTo(end)) : 0;
        uid_ = text(icalcomponent_get_uid(event));
    }

    bool hasStart() const { return start_.isValid(); }
    bool repeats() const {
        return icalcomponent_get_first_property(event_, ICAL_RRULE_PROPERTY) ||
               icalcomponent_get_first_property(event_, ICAL_RDATE_PROPERTY);
    }
    QDateTime recurrenceId() const { return toDateTime(icalcomponent_get_recurrenceid(event_)); }
    const std::optional<QString>& uid() const { return uid_; }

    // The event itself, under `identifier`, when it falls in the range.
    void emitSingle(std::optional<QString> identifier, std::vector<CalendarEvent>& out) const {
        emitAt(start_, std::move(identifier), out);
    }

    // Every occurrence in the range except those replaced by `overridden` starts.
    void emitOccurrences(const std::set<qint64>& overridden, std::vector<CalendarEvent>& out) const {
        const Exclusions excluded = exclusions();
        for (const auto& [secs, start] : occurrenceStarts()) {
            if (overridden.count(secs) || excluded.instants.count(secs) ||
                excluded.days.count(start.toLocalTime().date())) {
                continue;
            }
            emitAt(start, uid_ ? std::optional(*uid_ + QLatin1Char('/') + occurrenceStamp(start)) : std::nullopt, out);
        }
    }

private:
    void emitAt(const QDateTime& start, std::optional<QString> identifier, std::vector<CalendarEvent>& out) const {
        const QDateTime end = start.addSecs(durationSecs_);
        if (!overlaps(start, end, range_.from, range_.to)) return;
        out.push_back(CalendarEvent{std::move(identifier), text(icalcomponent_get_summary(event_)), start, end,
                                    text(icalcomponent_get_location(event_)),
                                    text(icalcomponent_get_description(event_))});
    }

    struct Exclusions {
        std::set<qint64> instants;
        std::set<QDate> days;  // EXDATEs given as dates remove that day's occurrence
    };

    Exclusions exclusions() const {
        Exclusions excluded;
        forEachDate(ICAL_EXDATE_PROPERTY, [&excluded](const icaltimetype& t, const QDateTime& date) {
            if (t.is_date) {
                excluded.days.insert(date.date());
            } else {
                excluded.instants.insert(date.toSecsSinceEpoch());
            }
        });
        return excluded;
    }

    // Starts of the occurrences in the range from every RRULE (walked up to the
    // range's end) and RDATE, by instant.
    std::map<qint64, QDateTime> occurrenceStarts() const {
        std::map<qint64, QDateTime> starts;
        const auto add = [&](const QDateTime& start) {
            if (overlaps(start, start.addSecs(durationSecs_), range_.from, range_.to)) {
                starts.emplace(start.toSecsSinceEpoch(), start);
            }
        };
        const icaltimetype dtstart = icalcomponent_get_dtstart(event_);
        for (icalproperty* rule = icalcomponent_get_first_property(event_, ICAL_RRULE_PROPERTY); rule;
             rule = icalcomponent_get_next_property(event_, ICAL_RRULE_PROPERTY)) {
            icalrecur_iterator* it = icalrecur_iterator_new(icalproperty_get_rrule(rule), dtstart);
            for (int step = 0; it && step < kMaxRecurrenceSteps; ++step) {
                icaltimetype next = icalrecur_iterator_next(it);
                if (icaltime_is_null_time(next)) break;
                next.zone = dtstart.zone;
                const QDateTime start = toDateTime(next);
                if (!start.isValid()) continue;
                if (start >= range_.to) break;
                add(start);
            }
            if (it) icalrecur_iterator_free(it);
        }
        forEachDate(ICAL_RDATE_PROPERTY, [&add](const icaltimetype&, const QDateTime& start) { add(start); });
        return starts;
    }

    // Calls fn(value, instant) for each readable date of the properties of `kind`.
    template <class Fn>
    void forEachDate(icalproperty_kind kind, Fn fn) const {
        for (icalproperty* p = icalcomponent_get_first_property(event_, kind); p;
             p = icalcomponent_get_next_property(event_, kind)) {
            const icaltimetype value = icalproperty_get_datetime_with_component(p, event_);
            const QDateTime date = toDateTime(value);
            if (date.isValid()) fn(value, date);
        }
    }

    icalcomponent* event_;
    Range range_;
    QDateTime start_;
    qint64 durationSecs_ = 0;
    std::optional<QString> uid_;
};

std::vector<icalcomponent*> eventsOf(icalcomponent* root) {
    std::vector<icalcomponent*> events;
    const auto collect = [&events](icalcomponent* calendar) {
        for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
             e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
            events.push_back(e);
        }
    };
    switch (icalcomponent_isa(root)) {
    case ICAL_VEVENT_COMPONENT: events.push_back(root); break;
    case ICAL_VCALENDAR_COMPONENT: collect(root); break;
    case ICAL_XROOT_COMPONENT:
        for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VCALENDAR_COMPONENT); c;
             c = icalcomponent_get_next_component(root, ICAL_VCALENDAR_COMPONENT)) {
            collect(c);
        }
        break;
    default: break;
    }
    return events;
}

// (UID, original start) of every occurrence that an event with RECURRENCE-ID replaces.
std::map<QString, std::set<qint64>> overriddenOccurrences(const std::vector<icalcomponent*>& events, const Range& range) {
    std::map<QString, std::set<qint64>> overridden;
    for (icalcomponent* e : events) {
        const EventReader reader(e, range);
        const QDateTime id = reader.recurrenceId();
        if (reader.uid() && id.isValid()) overridden[*reader.uid()].insert(id.toSecsSinceEpoch());
    }
    return overridden;
}
}  // namespace

std::vector<CalendarEvent> readIcsEvents(std::string_view text, const QDateTime& from, const QDateTime& to) {
    std::lock_guard lock(libicalMutex());
    const std::string terminated(text);
    ComponentPtr root(icalparser_parse_string(terminated.c_str()));
    std::vector<CalendarEvent> out;
    if (!root) return out;
    const Range range{from, to};
    const std::vector<icalcomponent*> events = eventsOf(root.get());
    const std::map<QString, std::set<qint64>> overridden = overriddenOccurrences(events, range);
    static const std::set<qint64> none;
    for (icalcomponent* e : events) {
        const EventReader reader(e, range);
        if (!reader.hasStart()) continue;
        const QDateTime id = reader.recurrenceId();
        if (id.isValid()) {
            reader.emitSingle(reader.uid() ? std::optional(*reader.uid() + QLatin1Char('/') + occurrenceStamp(id))
                                           : std::nullopt, out);
        } else if (reader.repeats()) {
            const auto found = reader.uid() ? overridden.find(*reader.uid()) : overridden.end();
            reader.emitOccurrences(found != overridden.end() ? found->second : none, out);
        } else {
            reader.emitSingle(reader.uid(), out);
        }
    }
    return out;
}

}  // namespace nimbo::platform
