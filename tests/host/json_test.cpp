#include "host/json.h"

#include <gtest/gtest.h>

#include <string>

namespace zvhost::json {
namespace {

struct TextCase {
  const char* name;
  std::string input;
  std::string expected;
};

TEST(JsonParse, StringsDecodeTheirEscapes) {
  const TextCase cases[] = {
      {"plain", R"("abc")", "abc"},
      {"empty", R"("")", ""},
      {"simple escapes", R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {"u escape ascii", R"("\u0041")", "A"},
      {"u escape NUL", R"("a\u0000b")", std::string("a\0b", 3)},
      {"u escape two bytes", R"("\u00e9")", "\xC3\xA9"},
      {"u escape three bytes uppercase hex", R"("\u5F20")", "\xE5\xBC\xA0"},
      {"surrogate pair", R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
      {"last code point", R"("\udbff\udfff")", "\xF4\x8F\xBF\xBF"},
      {"raw UTF-8 kept", "\"caf\xC3\xA9 \xE5\xBC\xA0\xF0\x9F\x98\x80\"",
       "caf\xC3\xA9 \xE5\xBC\xA0\xF0\x9F\x98\x80"},
      {"raw replacement character", "\"\xEF\xBF\xBD\"", "\xEF\xBF\xBD"},
      // Lone surrogates become U+FFFD, as a browser's UTF-8 of such a string.
      {"lone high surrogate", R"("\ud83d")", "\xEF\xBF\xBD"},
      {"high surrogate then text", R"("\ud83dx")", "\xEF\xBF\xBDx"},
      {"high surrogate then non-low", R"("\ud83d\u0041")",
       "\xEF\xBF\xBD"
       "A"},
      {"two high surrogates, then a low", R"("\ud83d\ud83d\ude00")",
       "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {"lone low surrogate", R"("\ude00")", "\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    const ParseResult r = Parse(c.input);
    ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
    EXPECT_EQ(r.value.type, Type::String) << c.name;
    EXPECT_EQ(r.value.text, c.expected) << c.name;
  }
}

TEST(JsonParse, NumbersFollowTheGrammarAndKeepTheirText) {
  const struct {
    const char* input;
    double value;
  } cases[] = {
      {"0", 0},      {"-0", 0},        {"7", 7},      {"-12", -12},  {"2147483648", 2147483648.0},
      {"1.5", 1.5},  {"-0.25", -0.25}, {"1e3", 1000}, {"1E+2", 100}, {"25e-2", 0.25},
      {"1.5e1", 15},
  };
  for (const auto& c : cases) {
    const ParseResult r = Parse(c.input);
    ASSERT_TRUE(r.ok) << c.input << ": " << r.error;
    EXPECT_EQ(r.value.type, Type::Number) << c.input;
    EXPECT_EQ(r.value.number, c.value) << c.input;
    EXPECT_EQ(r.value.text, c.input);
  }
}

TEST(JsonParse, DocumentsOfEveryShape) {
  const ParseResult r = Parse(
      " {\"id\": 3, \"member\": \"GetCSR\", \"args\": [true, false, null, \"x\", [], {}]}\r\n\t");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.value.type, Type::Object);
  ASSERT_EQ(r.value.members.size(), 3u);
  EXPECT_EQ(r.value.Find("id")->number, 3);
  EXPECT_EQ(r.value.Find("member")->text, "GetCSR");
  EXPECT_EQ(r.value.Find("missing"), nullptr);
  const Value* args = r.value.Find("args");
  ASSERT_EQ(args->type, Type::Array);
  ASSERT_EQ(args->items.size(), 6u);
  EXPECT_EQ(args->items[0].type, Type::Bool);
  EXPECT_TRUE(args->items[0].boolean);
  EXPECT_EQ(args->items[1].type, Type::Bool);
  EXPECT_FALSE(args->items[1].boolean);
  EXPECT_EQ(args->items[2].type, Type::Null);
  EXPECT_EQ(args->items[3].text, "x");
  EXPECT_EQ(args->items[4].type, Type::Array);
  EXPECT_TRUE(args->items[4].items.empty());
  EXPECT_EQ(args->items[5].type, Type::Object);
  EXPECT_TRUE(args->items[5].members.empty());
}

TEST(JsonParse, MalformedDocumentsAreRefused) {
  const struct {
    const char* name;
    std::string input;
  } cases[] = {
      {"empty", ""},
      {"only space", "  "},
      {"bare word", "hello"},
      {"truncated literal", "tru"},
      {"capitalised literal", "True"},
      {"unterminated string", "\"abc"},
      {"unterminated object", "{\"a\":1"},
      {"unterminated array", "[1,2"},
      {"trailing comma in array", "[1,]"},
      {"trailing comma in object", "{\"a\":1,}"},
      {"missing colon", "{\"a\" 1}"},
      {"unquoted name", "{a:1}"},
      {"single quotes", "'a'"},
      {"two documents", "{} {}"},
      {"text after document", "1 x"},
      {"leading zero", "01"},
      {"leading plus", "+1"},
      {"bare minus", "-"},
      {"dot without digits", "1."},
      {"leading dot", ".5"},
      {"exponent without digits", "1e"},
      {"hex number", "0x10"},
      {"infinity", "Infinity"},
      {"NaN", "NaN"},
      {"out of range", "1e400"},
      {"raw newline in string", "\"a\nb\""},
      {"raw tab in string", "\"a\tb\""},
      {"unknown escape", R"("\x41")"},
      {"short u escape", R"("\u12")"},
      {"bad hex digit", R"("\u12g4")"},
      {"high surrogate then a bad escape", R"("\ud83d\u12g4")"},
      {"NUL byte outside string", std::string("[1,\0 2]", 7)},
  };
  for (const auto& c : cases) {
    const ParseResult r = Parse(c.input);
    EXPECT_FALSE(r.ok) << c.name;
    EXPECT_FALSE(r.error.empty()) << c.name;
  }
}

TEST(JsonParse, InvalidUtf8IsRefusedAnywhereInAString) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"lone continuation byte", "\x80"},       {"invalid start byte", "\xFF"},
      {"overlong slash", "\xC0\xAF"},           {"overlong three bytes", "\xE0\x80\xAF"},
      {"encoded surrogate", "\xED\xA0\x80"},    {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
      {"cut before closing quote", "\xE5\xBC"}, {"two-byte start then ASCII", "\xC3("},
  };
  for (const auto& c : cases) {
    for (const std::string& doc :
         {"\"" + c.bytes + "\"", "\"ok " + c.bytes + " ok\"", "{\"" + c.bytes + "\":1}"}) {
      const ParseResult r = Parse(doc);
      EXPECT_FALSE(r.ok) << c.name << " in " << doc;
      EXPECT_NE(r.error.find("UTF-8"), std::string::npos) << c.name << ": " << r.error;
    }
  }
}

TEST(JsonParse, NestingIsBoundedByTheDepthLimit) {
  const auto nested = [](int depth, char open, char close) {
    return std::string(depth, open) + std::string(depth, close);
  };
  const struct {
    int depth;
    int limit;
    bool ok;
  } cases[] = {{1, 1, true}, {2, 1, false}, {64, 64, true}, {65, 64, false}, {100000, 64, false}};
  for (const auto& c : cases) {
    const ParseResult arrays = Parse(nested(c.depth, '[', ']'), {.maxDepth = c.limit});
    EXPECT_EQ(arrays.ok, c.ok) << c.depth << "/" << c.limit;
    EXPECT_EQ(arrays.overLimit, !c.ok) << c.depth << "/" << c.limit;
    std::string objects;
    for (int i = 0; i < c.depth; ++i) objects += "{\"a\":";
    objects += "1" + std::string(c.depth, '}');
    EXPECT_EQ(Parse(objects, {.maxDepth = c.limit}).ok, c.ok) << "objects " << c.depth;
  }
  EXPECT_TRUE(Parse("[1, [2], {\"a\": [3]}]", {.maxDepth = 3}).ok);
  EXPECT_FALSE(Parse("[1, [2], {\"a\": [[3]]}]", {.maxDepth = 3}).ok);
}

// Text is counted as written, escapes, member names and numbers included.
TEST(JsonParse, ValuesAndTextAreBoundedBeforeTheyAreHeld) {
  const auto zeros = [](int n) {
    std::string out = "[0";
    for (int i = 1; i < n; ++i) out += ",0";
    return out + "]";
  };
  const struct {
    const char* name;
    std::string input;
    Limits limits;
    bool ok;
  } cases[] = {
      {"1 023 values", zeros(1022), {}, true},
      {"1 024 values", zeros(1023), {}, true},
      {"1 025 values", zeros(1024), {}, false},
      {"values in members and arrays", "{\"a\":1,\"b\":[2]}", {.maxValues = 4}, true},
      {"... one more", "{\"a\":1,\"b\":[2,3]}", {.maxValues = 4}, false},
      {"text at the bound", R"(["abcde","fghij"])", {.maxTextBytes = 10}, true},
      {"text over it", R"(["abcde","fghijk"])", {.maxTextBytes = 10}, false},
      {"a member name", R"({"abcde":"fghijk"})", {.maxTextBytes = 10}, false},
      {"escapes as written", R"(["\n\n\n\n\n"])", {.maxTextBytes = 10}, true},
      {"... an escape over", R"(["\u00e9"])", {.maxTextBytes = 5}, false},
      {"numbers", "[12345,123456]", {.maxTextBytes = 10}, false},
  };
  for (const auto& c : cases) {
    const ParseResult r = Parse(c.input, c.limits);
    EXPECT_EQ(r.ok, c.ok) << c.name << ": " << r.error;
    EXPECT_EQ(r.overLimit, !c.ok) << c.name;
  }
}

// The members read before a limit was met are kept, for the refusal's id.
TEST(JsonParse, ARefusalForALimitKeepsWhatCameBefore) {
  const ParseResult r = Parse("{\"id\":5,\"member\":\"x\",\"args\":[0,0,0]}", {.maxValues = 4});
  ASSERT_TRUE(r.overLimit);
  EXPECT_NE(r.error.find("more than 4 values"), std::string::npos) << r.error;
  ASSERT_EQ(r.value.members.size(), 2u);
  EXPECT_EQ(r.value.Find("id")->number, 5);
  EXPECT_FALSE(Parse("{\"id\":5,\"member\":}").overLimit);
  EXPECT_EQ(Parse("{\"id\":5,\"member\":}").value.members.size(), 0u);
}

TEST(JsonQuote, EscapesAndRepairsText) {
  const TextCase cases[] = {
      {"plain", "abc", R"("abc")"},
      {"quote and backslash", "a\"b\\c", R"("a\"b\\c")"},
      {"whitespace controls", "\n\r\t", R"("\n\r\t")"},
      {"other controls", std::string("\0\x1f\x7f", 3), "\"\\u0000\\u001f\x7f\""},
      {"slash left alone", "a/b", R"("a/b")"},
      {"UTF-8 kept", "\xE5\xBC\xA0\xF0\x9F\x98\x80", "\"\xE5\xBC\xA0\xF0\x9F\x98\x80\""},
      {"invalid byte repaired", "\xFF", "\"\xEF\xBF\xBD\""},
      {"each bad byte repaired",
       "a\xC0\xAF"
       "b",
       "\"a\xEF\xBF\xBD\xEF\xBF\xBD"
       "b\""},
      {"cut sequence repaired", "x\xE5\xBC", "\"x\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Quote(c.input), c.expected) << c.name;
  }
}

TEST(JsonQuote, WhatIsWrittenReadsBackTheSame) {
  std::string all;
  for (int c = 1; c < 0x80; ++c) all += static_cast<char>(c);
  all += "\xC3\xA9\xE5\xBC\xA0\xF0\x9F\x98\x80";
  const ParseResult r = Parse(Quote(all));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.value.text, all);
}

TEST(JsonFormatNumber, WholeNumbersWithoutFractionOthersExact) {
  const struct {
    double value;
    const char* expected;
  } cases[] = {{0, "0"},
               {1022, "1022"},
               {-2, "-2"},
               {2147483647, "2147483647"},
               {0.5, "0.5"},
               {1e300, "1.0000000000000001e+300"},
               {0.1, "0.10000000000000001"}};
  for (const auto& c : cases) EXPECT_EQ(FormatNumber(c.value), c.expected) << c.value;
  EXPECT_EQ(FormatNumber(std::stod("inf")), "null");
}

// Under UBSan: numbers far outside the range must not be converted at all.
TEST(JsonAsInt32, OnlyWholeNumbersInRange) {
  const struct {
    double value;
    std::optional<int32_t> expected;
  } cases[] = {{0, 0},
               {-2147483648.0, INT32_MIN},
               {2147483647.0, INT32_MAX},
               {2147483648.0, std::nullopt},
               {-2147483649.0, std::nullopt},
               {0.5, std::nullopt},
               {1e300, std::nullopt},
               {-1e300, std::nullopt},
               {9.3e18, std::nullopt},
               {std::stod("inf"), std::nullopt},
               {std::stod("nan"), std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(AsInt32(c.value), c.expected) << c.value;
}

}  // namespace
}  // namespace zvhost::json
