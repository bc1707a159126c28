// The codec and subject methods, called through the built DLL as page script
// calls them (the argument rules of all ten: bad_input_test.cpp).
#include <string>
#include <vector>

#include "browser/plugin_test.h"
#include "support/test_data.h"

namespace testbrowser {
namespace {

using Methods = ObjectTest;

TEST_F(Methods, SubjectAndChallengeAnswerOne) {
  const std::vector<Value> subjects[] = {
      {std::string("C=CN, O=OFFICE, CN=ZVUSER")},
      {std::string("/C=CN/O=OFFICE/CN=ZVUSER"), std::string("extra ignored"), int32_t{3}},
      {std::string()},
      {std::string(1 << 20, 'S')},
  };
  for (const auto& args : subjects) {
    const CallResult r = Call("SetSubject", args);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(Int(r), 1);
  }
  const CallResult r = Call("SetChallenge", {std::string("a"), std::string("b")});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(Int(r), 1);
}

TEST_F(Methods, Base64RoundTripsTheRfcVectors) {
  using zvcert::testing::kRfc4648Base64;
  std::vector vectors(std::begin(kRfc4648Base64), std::end(kRfc4648Base64));
  vectors.insert(vectors.end(), {{"abc", "YWJj"}, {"ab", "YWI="}});
  for (const auto& [plain, encoded] : vectors) {
    const CallResult e = Call("Base64Encode", {plain});
    EXPECT_TRUE(e.ok) << plain;
    EXPECT_EQ(Text(e), encoded);
    const CallResult d = Call("Base64Decode", {encoded});
    EXPECT_TRUE(d.ok) << encoded;
    EXPECT_EQ(Text(d), plain);
  }
}

TEST_F(Methods, Base64EncodeTakesTheArgumentsBytesZeroBytesIncluded) {
  const CallResult r = Call("Base64Encode", {std::string("a\0b\xFF\xFE", 5)});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(Text(r), "YQBi//4=");  // 61 00 62 FF FE, not 61 00 00 00 00
}

TEST_F(Methods, Base64DecodeFailuresAndItsCutAtTheFirstZeroByte) {
  struct Case {
    std::string text;
    bool ok;
    std::string result;
  };
  const Case cases[] = {
      {"Zm9", false, ""},         // not a multiple of 4
      {"Zm9v Zm8", false, ""},    // blank
      {"Zm9v\nYmFy", false, ""},  // line break
      {"Zm=v", false, ""},        // misplaced pad
      {std::string("Zm\0v", 4), false, ""},
      {"AGFi", true, ""},              // 00 61 62: ends at once
      {"YQBi", true, "a"},             // 61 00 62
      {"Zg==Zm9v", true, "ffoo"},      // padding judged per group
      {"//79", true, "\xFF\xFE\xFD"},  // bytes as they are, not UTF-8
  };
  for (const Case& c : cases) {
    const CallResult r = Call("Base64Decode", {c.text});
    EXPECT_EQ(r.ok, c.ok) << c.text;
    EXPECT_EQ(Text(r), c.result) << c.text << ": a string result even on failure";
  }
}

TEST_F(Methods, Base64HandlesMegabyteArgumentsOnA1MiBStack) {
  std::string data(1 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('A' + i % 26);
  const CallResult e = Call("Base64Encode", {data});
  ASSERT_TRUE(e.ok);
  EXPECT_EQ(Text(e).size(), 4 * ((data.size() + 2) / 3));
  const CallResult d = Call("Base64Decode", {Text(e)});
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(Text(d), data);
  const std::string big(16 << 20, 'Q');
  EXPECT_EQ(Text(Call("Base64Encode", {big})).size(), 4 * ((big.size() + 2) / 3));
}

}  // namespace
}  // namespace testbrowser
