#pragma once
// JSON parsing with limits, and the typed readers every client of the service uses.
//
// Readers take a key from a JSON object with a type test and give "not present"
// (std::nullopt) for a missing key, a null, or a value of another type; the caller
// applies its default. None of them throws.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbo::api {

using Json = nlohmann::json;

inline constexpr int kMaxJsonDepth = 512;

// Parses a whole JSON document whose top level is an object or an array (no bare
// fragments), in time linear in its size. Gives nullopt for invalid JSON, invalid
// UTF-8, trailing bytes of any kind (a NUL included), or nesting deeper than
// kMaxJsonDepth (checked while parsing, before any deep value is built).
std::optional<Json> parseJsonDocument(std::string_view text);
// As parseJsonDocument, but only a top-level object counts.
std::optional<Json> parseJsonObject(std::string_view text);
// Compact serialisation: no spaces, and an object's keys in sorted order (Json keeps
// its keys sorted; the order in which they were inserted is not kept).
std::string toCompactJson(const Json& value);
// True when `bytes` is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// string: present only for a JSON string.
std::optional<std::string> readString(const Json& object, std::string_view key);
// integer: a JSON number with a whole value that fits a signed 64-bit integer. A
// number written with a fraction or exponent is read as a double, and a double of
// magnitude 2^63 counts as outside the range (it may stand for -2^63 - 1).
std::optional<std::int64_t> readInteger(const Json& object, std::string_view key);
// bool: a JSON boolean.
std::optional<bool> readBool(const Json& object, std::string_view key);
// count: any JSON number (fraction discarded) or a boolean (1 or 0); a number
// outside the signed 64-bit range, or not finite, is not present.
std::optional<std::int64_t> readCount(const Json& object, std::string_view key);
// The object under `key`, or nullptr when the key does not hold an object.
const Json* readObject(const Json& object, std::string_view key);
// The elements of the array under `key` when it is an array whose every element is
// an object; nullopt otherwise.
std::optional<std::vector<const Json*>> readObjectArray(const Json& object, std::string_view key);

}  // namespace nimbo::api
