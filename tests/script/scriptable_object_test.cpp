// What page script sees of the object: its members and the refusals.
#include "browser/plugin_test.h"

namespace testbrowser {
namespace {

const char* const kMethods[] = {"FindCert",     "IsCertExist",  "DelCert",    "ImportCert",
                                "CertSign",     "SetChallenge", "SetSubject", "GetCSR",
                                "Base64Encode", "Base64Decode"};
const char* const kProperties[] = {"Version", "HostName"};
// Near misses: members are recognised by identifier, so case and spelling count.
const char* const kStrangers[] = {"getcsr",   "GETCSR",  "version", "Version ", "",
                                  "toString", "valueOf", "Base64",  "FindCerts"};

using ScriptableObject = ObjectTest;

TEST_F(ScriptableObject, ClassRecordIsVersion3WithEveryRoutine) {
  const NPClass* cls = object->get()->_class;
  EXPECT_EQ(cls->structVersion, 3u);
  const void* routines[] = {
      reinterpret_cast<void*>(cls->allocate),    reinterpret_cast<void*>(cls->deallocate),
      reinterpret_cast<void*>(cls->invalidate),  reinterpret_cast<void*>(cls->hasMethod),
      reinterpret_cast<void*>(cls->invoke),      reinterpret_cast<void*>(cls->invokeDefault),
      reinterpret_cast<void*>(cls->hasProperty), reinterpret_cast<void*>(cls->getProperty),
      reinterpret_cast<void*>(cls->setProperty), reinterpret_cast<void*>(cls->removeProperty),
      reinterpret_cast<void*>(cls->enumerate),   reinterpret_cast<void*>(cls->construct),
  };
  for (const void* routine : routines) EXPECT_NE(routine, nullptr);
}

TEST_F(ScriptableObject, KnowsExactlyTheTenMethodsAndTwoProperties) {
  for (const char* name : kMethods) {
    EXPECT_TRUE(object->HasMethod(name)) << name;
    EXPECT_FALSE(object->HasProperty(name)) << name;
  }
  for (const char* name : kProperties) {
    EXPECT_TRUE(object->HasProperty(name)) << name;
    EXPECT_FALSE(object->HasMethod(name)) << name;
  }
  for (const char* name : kStrangers) {
    EXPECT_FALSE(object->HasMethod(name)) << '"' << name << '"';
    EXPECT_FALSE(object->HasProperty(name)) << '"' << name << '"';
  }
}

TEST_F(ScriptableObject, ReadingAnythingButTheTwoPropertiesFailsWithVoid) {
  for (const char* name : kMethods) {
    const CallResult r = object->GetProperty(name);
    EXPECT_FALSE(r.ok) << name;
    EXPECT_TRUE(IsVoid(r)) << name;
  }
  for (const char* name : kStrangers) {
    const CallResult r = object->GetProperty(name);
    EXPECT_FALSE(r.ok) << name;
    EXPECT_TRUE(IsVoid(r)) << name;
  }
}

TEST_F(ScriptableObject, RefusesWritingRemovingEnumeratingAndConstructing) {
  const Value values[] = {Value{int32_t{5}}, Value{std::string("9999")}, Value{true},
                          Value{nullptr}};
  for (const Value& value : values) {
    EXPECT_FALSE(object->SetProperty("Version", value)) << ToString(value);
    EXPECT_FALSE(object->SetProperty("HostName", value)) << ToString(value);
    EXPECT_FALSE(object->SetProperty("NewThing", value)) << ToString(value);
  }
  EXPECT_EQ(Int(object->GetProperty("Version")), 1022);
  EXPECT_FALSE(object->RemoveProperty("Version"));
  EXPECT_FALSE(object->RemoveProperty("GetCSR"));
  EXPECT_TRUE(object->HasProperty("Version"));
  EXPECT_FALSE(object->Enumerate());
  EXPECT_FALSE(object->Construct().ok);
  EXPECT_FALSE(object->Construct({std::string("x")}).ok);
}

TEST_F(ScriptableObject, CallingTheObjectItselfGivesVoidWithoutError) {
  const std::vector<Value> argumentLists[] = {
      {}, {std::string("x")}, {int32_t{1}, 2.5, nullptr, true}};
  for (const auto& args : argumentLists) {
    const CallResult r = object->InvokeDefault(args);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(IsVoid(r));
  }
}

TEST_F(ScriptableObject, UnknownMethodsFailWithAVoidResult) {
  for (const char* name : kStrangers) {
    const CallResult r = object->Invoke(name, {std::string("a"), std::string("b")});
    EXPECT_FALSE(r.ok) << name;
    EXPECT_TRUE(IsVoid(r)) << name;
  }
}

TEST_F(ScriptableObject, InvalidateLeavesTheObjectUsable) {
  object->get()->_class->invalidate(object->get());
  EXPECT_EQ(Int(object->GetProperty("Version")), 1022);
}

}  // namespace
}  // namespace testbrowser
