// The limited JSON parser and the typed readers.
#include "api/Json.h"

#include <gtest/gtest.h>

#include <string>

using namespace nimbo::api;

namespace {
std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }
}  // namespace

TEST(JsonParsing, AcceptsOnlyWholeObjectsAndArraysWithinTheLimits) {
    using namespace std::string_literals;
    const struct { std::string text; bool accepted; } cases[] = {
        {R"({"a":1})", true}, {"[1,2]", true}, {nested(kMaxJsonDepth), true},
        {"3", false}, {"\"text\"", false}, {"true", false}, {"null", false}, {"", false}, {R"({"a":1)", false},
        {R"({"a":1} trailing)", false}, {"{\"a\":1}\0garbage"s, false}, {"{\"a\":1}\0"s, false},
        {nested(kMaxJsonDepth + 1), false}, {nested(2'000'000), false}, {std::string(100'000, '{'), false},
        {"{\"a\":\"\xFF\"}", false}, {"{\"a\":\"\xED\xA0\x80\"}", false},  // invalid UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(parseJsonDocument(c.text).has_value(), c.accepted) << c.text.substr(0, 20);
    EXPECT_FALSE(parseJsonObject("[1]"));
}

TEST(JsonParsing, BuildsWhatAPlainParserBuildsAndKeepsTheLastOfRepeatedKeys) {
    const std::string text = R"({"a":[{},{"b":[1,-2,2.5,"x",null,true,[]]},{}],"c":{"d":{"e":[{}]}},"k":"first","k":"last"})";
    EXPECT_EQ(parseJsonObject(text), Json::parse(text));
    EXPECT_EQ(readString(*parseJsonObject(text), "k"), "last");
}

TEST(JsonParsing, ChecksUtf8) {
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) EXPECT_FALSE(isValidUtf8(bad));
    EXPECT_TRUE(isValidUtf8("caf\xC3\xA9 \xE2\x9A\xA0 \xF0\x9F\x94\x84"));
}

TEST(JsonReaders, IntegerNeedsAWholeNumberInRangeAndCountTruncates) {
    const auto o = *parseJsonObject(R"({"i":12,"f":12.0,"frac":12.9,"neg":-3.7,"max":9223372036854775807,
        "over":9223372036854775808,"min":-9223372036854775808,"under":-9223372036854775809,"minf":-9.2233720368547758e18,
        "huge":123456789012345678901234567890,"big":1e300,"str":"12","t":true,"fa":false})");
    const struct { const char* key; std::optional<std::int64_t> integer, count; } cases[] = {
        {"i", 12, 12}, {"f", 12, 12}, {"frac", std::nullopt, 12}, {"neg", std::nullopt, -3},
        {"max", INT64_MAX, INT64_MAX}, {"over", std::nullopt, std::nullopt}, {"min", INT64_MIN, INT64_MIN},
        {"under", std::nullopt, std::nullopt}, {"minf", std::nullopt, std::nullopt}, {"huge", std::nullopt, std::nullopt},
        {"big", std::nullopt, std::nullopt}, {"str", std::nullopt, std::nullopt}, {"t", std::nullopt, 1}, {"fa", std::nullopt, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readInteger(o, c.key), c.integer) << c.key;
        EXPECT_EQ(readCount(o, c.key), c.count) << c.key;
    }
}

TEST(JsonReaders, ObjectArrayNeedsEveryElementToBeAnObject) {
    const auto o = *parseJsonObject(R"({"ok":[{},{"a":1}],"mixed":[{},1],"empty":[],"str":"x"})");
    EXPECT_EQ(readObjectArray(o, "ok").value_or(std::vector<const Json*>{}).size(), 2u);
    EXPECT_TRUE(readObjectArray(o, "empty"));
    EXPECT_FALSE(readObjectArray(o, "mixed") || readObjectArray(o, "str"));
}
