#include "script/subject_attribute.h"

#include <gtest/gtest.h>

#include <string>

namespace zvcert {
namespace {

std::string Get(const std::string& key, const std::string& subject) {
  AttributeValue value;
  value.fill('#');
  GetSubjectAttribute(key, subject, value);
  const std::string text(value.data());
  for (size_t i = text.size(); i < value.size(); ++i) {
    EXPECT_EQ(value[i], '\0') << "byte " << i << " not zero-filled";
  }
  return text;
}

TEST(SubjectAttribute, ReadsTheTenKeysAsTheyAreWritten) {
  const std::string subject = "C=CN, ST=Region, L=Town, O=OFFICE, OU=THIS-PC, CN=ZVUSER";
  const std::pair<std::string, std::string> expected[] = {
      {"C", "CN"},       {"ST", "Region"}, {"L", "Town"}, {"O", "OFFICE"},
      {"OU", "THIS-PC"}, {"CN", "ZVUSER"}, {"E", "XX"},   {"SN", "XX"},
      {"G", "XX"},       {"T", "XX"},  // the only "T=" follows the S of "ST="
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(Get(key, subject), value) << key;
}

TEST(SubjectAttribute, FollowsTheMatchingRules) {
  struct Case {
    const char* what;
    std::string key, subject, value;
  };
  const Case cases[] = {
      {"slashes", "ST", "/C=CN/ST=Region/CN=ZVUSER", "Region"},
      {"slash form, last", "CN", "/C=CN/ST=Region/CN=ZVUSER", "ZVUSER"},
      {"at the very start", "CN", "CN=first, O=x", "first"},
      {"keys are case-sensitive", "CN", "cn=ZVUSER", "XX"},
      {"trailing space kept", "O", "O=My Office ,OU=x", "My Office "},
      {"no '=' right after the key", "C", "C = CN", "XX"},
      {"empty value", "C", "C=, ST=Region", "XX"},
      {"40 characters keep 31", "CN", "CN=" + std::string(40, 'z'), std::string(31, 'z')},
      {"C inside DC= is skipped", "C", "DC=com, C=CN", "CN"},
      {"first accepted occurrence wins", "O", "O=, O=second", "XX"},
      {"a digit before is no letter", "C", "1C=CN", "CN"},
      {"ends at a NUL", "O", std::string("O=ab\0cd", 7), "ab"},
      {"absent", "E", "CN=x", "XX"},
      {"key cut to 30 bytes", std::string(35, 'K'), std::string(30, 'K') + "=v", "v"},
      {"UTF-8 kept as bytes", "CN", "CN=\xE5\xBC\xA0\xE4\xB8\x89", "\xE5\xBC\xA0\xE4\xB8\x89"},
      // 31 bytes would end inside a three-byte character: the part is dropped.
      {"no cut character at the end", "CN", "CN=" + std::string(29, 'a') + "\xE4\xB8\xAD",
       std::string(29, 'a')},
      {"a whole character at the end stays", "CN", "CN=" + std::string(28, 'a') + "\xE4\xB8\xAD",
       std::string(28, 'a') + "\xE4\xB8\xAD"},
      {"only a cut character", "CN", "CN=\xE4\xB8", "XX"},
      {"several cut leads at the end", "CN", "CN=ab\xD0\xD9", "ab"},
  };
  for (const Case& c : cases) EXPECT_EQ(Get(c.key, c.subject), c.value) << c.what;
}

}  // namespace
}  // namespace zvcert
