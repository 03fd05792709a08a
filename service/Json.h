#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace service {

using Json = nlohmann::json;

// A refusal to answer with `status` and the JSON body {"error": message}. Handlers throw it;
// the server's exception handler turns it into the answer.
class HttpError : public std::runtime_error {
public:
    HttpError(int status, const std::string &message) : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

// Compact JSON; invalid UTF-8 (which parsed input never holds) is replaced rather than thrown.
std::string dumpJson(const Json &value);

// The request body as a JSON object. An empty body counts as {}. Anything else that is not
// a JSON object of bounded nesting is a 400.
Json parseBodyObject(const std::string &body);

// Deepest nesting of arrays and objects in `text` (strings are skipped).
size_t jsonNestingDepth(const std::string &text);

// Field readers: a missing key or a value of another type is a 400 naming the key.
const std::string &requireString(const Json &object, const char *key, size_t maxBytes);
std::optional<std::string> optionalString(const Json &object, const char *key, size_t maxBytes);
const Json &requireArray(const Json &object, const char *key, size_t maxItems);

// Text helpers shared by the handlers.
std::string trimmed(const std::string &text);
std::string lowerAscii(std::string text);
size_t utf8Length(const std::string &text);
// At most `maxChars` code points of `text`, followed by "…" when it was cut.
std::string utf8Shortened(const std::string &text, size_t maxChars);

} // namespace service
