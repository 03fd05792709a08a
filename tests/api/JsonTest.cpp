#include "api/Json.h"

#include <gtest/gtest.h>

#include <string>

using namespace nimbo::api;

namespace {
std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }
}  // namespace

TEST(JsonParsing, AcceptsObjectsAndArraysOnlyAtTopLevel) {
    EXPECT_TRUE(parseJsonDocument(R"({"a":1})"));
    EXPECT_TRUE(parseJsonDocument("[1,2]"));
    for (const char* fragment : {"3", "\"text\"", "true", "null", ""})
        EXPECT_FALSE(parseJsonDocument(fragment)) << fragment;
    EXPECT_FALSE(parseJsonObject("[1]"));
    EXPECT_FALSE(parseJsonDocument(R"({"a":1} trailing)"));
    EXPECT_FALSE(parseJsonDocument(R"({"a":1)"));
}

TEST(JsonParsing, EnforcesTheDepthLimitWhileParsing) {
    EXPECT_TRUE(parseJsonDocument(nested(kMaxJsonDepth)));
    EXPECT_FALSE(parseJsonDocument(nested(kMaxJsonDepth + 1)));
    // A very deep document is refused without building it (no stack exhaustion).
    EXPECT_FALSE(parseJsonDocument(nested(2'000'000)));
    const std::string deepObject(100'000, '{');
    EXPECT_FALSE(parseJsonDocument(deepObject));
}

TEST(JsonParsing, RejectsInvalidUtf8) {
    EXPECT_FALSE(isValidUtf8("\xC3"));                   // cut short
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));               // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));           // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));       // past U+10FFFF
    EXPECT_TRUE(isValidUtf8("caf\xC3\xA9 \xE2\x9A\xA0 \xF0\x9F\x94\x84"));
    EXPECT_FALSE(parseJsonDocument("{\"a\":\"\xFF\"}"));
}

TEST(JsonParsing, DuplicateKeysKeepTheLastValue) {
    const auto object = parseJsonObject(R"({"email":"a@x","email":"b@x"})");
    ASSERT_TRUE(object);
    EXPECT_EQ(readString(*object, "email"), "b@x");
}

TEST(JsonParsing, HugeNumbersNeverCrashAndReadAsNotPresent) {
    const auto object = parseJsonObject(R"({"big":1e400,"int":123456789012345678901234567890,"neg":-1e19})");
    if (object) {  // the parser may refuse an overflowing number outright; both are fine
        EXPECT_FALSE(readCount(*object, "big"));
        EXPECT_FALSE(readInteger(*object, "int"));
        EXPECT_FALSE(readCount(*object, "neg"));
    }
}

TEST(JsonReaders, StringBoolAndObjectRules) {
    const auto o = *parseJsonObject(R"({"s":"x","n":1,"b":true,"z":null,"o":{"k":1},"sb":"true"})");
    EXPECT_EQ(readString(o, "s"), "x");
    EXPECT_FALSE(readString(o, "n"));
    EXPECT_FALSE(readString(o, "z"));
    EXPECT_FALSE(readString(o, "missing"));
    EXPECT_EQ(readBool(o, "b"), true);
    EXPECT_FALSE(readBool(o, "sb"));
    EXPECT_FALSE(readBool(o, "n"));
    EXPECT_NE(readObject(o, "o"), nullptr);
    EXPECT_EQ(readObject(o, "s"), nullptr);
    EXPECT_FALSE(readString(Json::array(), "s"));  // not an object at all
}

TEST(JsonReaders, IntegerNeedsAWholeNumberInRange) {
    const auto o = *parseJsonObject(
        R"({"i":12,"f":12.0,"frac":12.5,"neg":-7,"max":9223372036854775807,"over":9223372036854775808,"str":"12","b":true})");
    EXPECT_EQ(readInteger(o, "i"), 12);
    EXPECT_EQ(readInteger(o, "f"), 12);
    EXPECT_FALSE(readInteger(o, "frac"));
    EXPECT_EQ(readInteger(o, "neg"), -7);
    EXPECT_EQ(readInteger(o, "max"), INT64_MAX);
    EXPECT_FALSE(readInteger(o, "over"));
    EXPECT_FALSE(readInteger(o, "str"));
    EXPECT_FALSE(readInteger(o, "b"));
}

TEST(JsonReaders, CountTruncatesAndTakesBooleans) {
    const auto o = *parseJsonObject(R"({"f":12.9,"n":-3.7,"t":true,"fa":false,"s":"5","big":1e300})");
    EXPECT_EQ(readCount(o, "f"), 12);
    EXPECT_EQ(readCount(o, "n"), -3);
    EXPECT_EQ(readCount(o, "t"), 1);
    EXPECT_EQ(readCount(o, "fa"), 0);
    EXPECT_FALSE(readCount(o, "s"));
    EXPECT_FALSE(readCount(o, "big"));
}

TEST(JsonReaders, ObjectArrayNeedsEveryElementToBeAnObject) {
    const auto o = *parseJsonObject(R"({"ok":[{},{"a":1}],"mixed":[{},1],"empty":[],"str":"x"})");
    ASSERT_TRUE(readObjectArray(o, "ok"));
    EXPECT_EQ(readObjectArray(o, "ok")->size(), 2u);
    EXPECT_FALSE(readObjectArray(o, "mixed"));
    EXPECT_TRUE(readObjectArray(o, "empty"));
    EXPECT_FALSE(readObjectArray(o, "str"));
}

TEST(JsonWriting, IsCompact) {
    EXPECT_EQ(toCompactJson(Json{{"a", 1}, {"b", Json::array({"x"})}}), R"({"a":1,"b":["x"]})");
}
