#include "Clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace service {

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string isoUtc(int64_t ms)
{
    const time_t seconds = static_cast<time_t>(ms / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

namespace {

// Reads exactly `count` digits at `pos`, advancing it.
std::optional<int> digits(std::string_view text, size_t &pos, size_t count)
{
    if (pos + count > text.size())
        return std::nullopt;
    int value = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    pos += count;
    return value;
}

bool expect(std::string_view text, size_t &pos, char c)
{
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

} // namespace

std::optional<int64_t> parseIsoUtc(std::string_view text)
{
    // "YYYY-MM-DDTHH:MM:SS", then an optional ".mmm", then "Z".
    struct Field {
        size_t digits;
        char after;
    };
    constexpr Field fields[] = {{4, '-'}, {2, '-'}, {2, 'T'}, {2, ':'}, {2, ':'}, {2, '\0'}};
    int values[6] = {};
    size_t pos = 0;
    for (size_t i = 0; i < 6; ++i) {
        const auto value = digits(text, pos, fields[i].digits);
        if (!value || (fields[i].after != '\0' && !expect(text, pos, fields[i].after)))
            return std::nullopt;
        values[i] = *value;
    }
    int millis = 0;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        const auto fraction = digits(text, pos, 3);
        if (!fraction)
            return std::nullopt;
        millis = *fraction;
    }
    const auto [year, month, day, hour, minute, second] = values;
    if (!expect(text, pos, 'Z') || pos != text.size() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 60)
        return std::nullopt;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return static_cast<int64_t>(timegm(&parts)) * 1000 + millis;
}

} // namespace service
