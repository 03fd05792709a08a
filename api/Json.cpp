#include "api/Json.h"

#include <cmath>
#include <limits>

namespace nimbo::api {
namespace {
// 2^63 as a double. Doubles of this magnitude lie 2048 apart, so a number written just
// outside the signed 64-bit range (-2^63 - 1) reads back as exactly -2^63: a double of
// magnitude 2^63 therefore counts as out of range on either side.
constexpr double kTwoPow63 = 9223372036854775808.0;

std::optional<std::int64_t> wholeDoubleToInt64(double value, bool truncate) {
    if (!std::isfinite(value)) return std::nullopt;
    const double whole = std::trunc(value);
    if (!truncate && whole != value) return std::nullopt;
    if (whole <= -kTwoPow63 || whole >= kTwoPow63) return std::nullopt;
    return static_cast<std::int64_t>(whole);
}

const Json* member(const Json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// Builds the document from the parser's events, refusing nesting beyond the limit
// before it is built. Each value is placed once, so the cost stays linear in the input.
class DocumentBuilder {
public:
    Json root;

    bool null() { return place(nullptr); }
    bool boolean(bool value) { return place(value); }
    bool number_integer(Json::number_integer_t value) { return place(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return place(value); }
    bool number_float(Json::number_float_t value, const Json::string_t&) { return place(value); }
    bool string(Json::string_t& value) { return place(std::move(value)); }
    bool binary(Json::binary_t&) { return false; }
    bool start_object(std::size_t) { return open(Json::value_t::object); }
    bool key(Json::string_t& name) {
        key_ = std::move(name);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Json::value_t::array); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const std::exception&) { return false; }

private:
    // Puts `value` where the parser is: the root, the next array element, or the
    // member under the latest key (a repeated key keeps its last value).
    template <class Value>
    Json* add(Value&& value) {
        if (open_.empty()) {
            root = Json(std::forward<Value>(value));
            return &root;
        }
        Json& parent = *open_.back();
        if (parent.is_array()) return &parent.emplace_back(std::forward<Value>(value));
        Json& slot = parent[key_];
        slot = Json(std::forward<Value>(value));
        return &slot;
    }
    template <class Value>
    bool place(Value&& value) {
        add(std::forward<Value>(value));
        return true;
    }
    bool open(Json::value_t type) {
        if (open_.size() >= static_cast<std::size_t>(kMaxJsonDepth)) return false;
        open_.push_back(add(type));
        return true;
    }
    bool close() {
        open_.pop_back();
        return true;
    }

    std::vector<Json*> open_;  // the containers being filled, outermost first
    Json::string_t key_;
};
}  // namespace

std::optional<Json> parseJsonDocument(std::string_view text) {
    // The parser takes a NUL byte for the end of the input; a raw NUL is never valid JSON.
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    DocumentBuilder builder;
    if (!Json::sax_parse(text.begin(), text.end(), &builder)) return std::nullopt;
    if (!builder.root.is_object() && !builder.root.is_array()) return std::nullopt;
    return std::move(builder.root);
}

std::optional<Json> parseJsonObject(std::string_view text) {
    auto value = parseJsonDocument(text);
    if (!value || !value->is_object()) return std::nullopt;
    return value;
}

std::string toCompactJson(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool isValidUtf8(std::string_view bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) { ++i; continue; }
        size_t length;
        std::uint32_t cp;
        if ((c & 0xE0) == 0xC0) { length = 2; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { length = 3; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { length = 4; cp = c & 0x07; }
        else return false;
        if (i + length > n) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        const bool overlong = (length == 2 && cp < 0x80) || (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
        if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

std::optional<std::string> readString(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (!v || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

std::optional<std::int64_t> readInteger(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (!v) return std::nullopt;
    if (v->is_number_integer() && !v->is_number_unsigned()) return v->get<std::int64_t>();
    if (v->is_number_unsigned()) {
        const auto u = v->get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (v->is_number_float()) return wholeDoubleToInt64(v->get<double>(), /*truncate=*/false);
    return std::nullopt;
}

std::optional<bool> readBool(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (!v || !v->is_boolean()) return std::nullopt;
    return v->get<bool>();
}

std::optional<std::int64_t> readCount(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (!v) return std::nullopt;
    if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
    if (v->is_number_float()) return wholeDoubleToInt64(v->get<double>(), /*truncate=*/true);
    return readInteger(object, key);
}

const Json* readObject(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    return v && v->is_object() ? v : nullptr;
}

std::optional<std::vector<const Json*>> readObjectArray(const Json& object, std::string_view key) {
    const Json* v = member(object, key);
    if (!v || !v->is_array()) return std::nullopt;
    std::vector<const Json*> elements;
    elements.reserve(v->size());
    for (const Json& element : *v) {
        if (!element.is_object()) return std::nullopt;
        elements.push_back(&element);
    }
    return elements;
}

}  // namespace nimbo::api
