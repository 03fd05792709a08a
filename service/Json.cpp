#include "Json.h"

#include <algorithm>
#include <cctype>

namespace service {

namespace {

constexpr size_t maxNestingDepth = 32;

} // namespace

std::string dumpJson(const Json &value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

size_t jsonNestingDepth(const std::string &text)
{
    size_t depth = 0;
    size_t deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

Json parseBodyObject(const std::string &body)
{
    if (body.empty())
        return Json::object();
    if (jsonNestingDepth(body) > maxNestingDepth)
        throw HttpError(400, "The JSON body is nested too deeply.");
    // The parser takes a NUL byte for the end of the input and would ignore what follows;
    // a raw NUL is never valid JSON.
    Json parsed = Json::parse(body, nullptr, false);
    if (parsed.is_discarded() || body.find('\0') != std::string::npos)
        throw HttpError(400, "The body is not valid JSON.");
    if (!parsed.is_object())
        throw HttpError(400, "The body must be a JSON object.");
    return parsed;
}

const std::string &requireString(const Json &object, const char *key, size_t maxBytes)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        throw HttpError(400, std::string("\"") + key + "\" must be a string.");
    const std::string &value = it->get_ref<const std::string &>();
    if (value.size() > maxBytes)
        throw HttpError(400, std::string("\"") + key + "\" is too long.");
    return value;
}

std::optional<std::string> optionalString(const Json &object, const char *key, size_t maxBytes)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    return requireString(object, key, maxBytes);
}

const Json &requireArray(const Json &object, const char *key, size_t maxItems)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_array())
        throw HttpError(400, std::string("\"") + key + "\" must be a list.");
    if (it->size() > maxItems)
        throw HttpError(400, std::string("\"") + key + "\" has too many entries.");
    return *it;
}

std::string trimmed(const std::string &text)
{
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

std::string lowerAscii(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

size_t utf8Length(const std::string &text)
{
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string utf8Shortened(const std::string &text, size_t maxChars)
{
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == maxChars)
            return text.substr(0, i) + "…";
    }
    return text;
}

} // namespace service
