#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace service {

// Milliseconds since the Unix epoch, wall clock. Stored timestamps use this unit so that
// every process on one data folder computes the same progress from them.
int64_t nowMs();

// "2026-12-06T19:49:00.123Z": UTC, millisecond precision, no characters that need escaping
// in a URL query.
std::string isoUtc(int64_t ms);

// Reads what isoUtc writes (the fraction is optional); anything else gives no value.
std::optional<int64_t> parseIsoUtc(std::string_view text);

} // namespace service
