#include "store/attribute_table.h"

#include <gtest/gtest.h>

#include <string>

namespace zvcert {
namespace {

TEST(AttributeTable, KeysAreWholeAndIgnoreLetterCase) {
  struct Case {
    std::string key;
    const char* oid;  // null: not a key
  };
  const Case cases[] = {
      {"CN", "2.5.4.3"}, {"cn", "2.5.4.3"},    {"Cn", "2.5.4.3"}, {"e", "1.2.840.113549.1.9.1"},
      {"sn", "2.5.4.4"}, {"g", "2.5.4.42"},    {"T", "2.5.4.12"}, {"ou", "2.5.4.11"},
      {"St", "2.5.4.8"}, {"N", nullptr},       {"CNX", nullptr},  {"", nullptr},
      {"C ", nullptr},   {"2.5.4.3", nullptr},
  };
  for (const Case& c : cases) {
    const auto oid = AttributeOid(c.key);
    if (c.oid == nullptr) {
      EXPECT_FALSE(oid.has_value()) << c.key;
    } else {
      ASSERT_TRUE(oid.has_value()) << c.key;
      EXPECT_STREQ(*oid, c.oid) << c.key;
    }
  }
}

}  // namespace
}  // namespace zvcert
