// The object's own state, which script cannot read directly: its values at
// construction and the wiping of a held private key at destruction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "script/scriptable_object.h"
#include "support/linked_plugin_test.h"
#include "support/test_data.h"

namespace zvcert {
namespace {

using testing::Field;

TEST(ObjectState, AFreshObjectHoldsTheInitialSubjectAndChallenge) {
  NPP_t npp{};
  NPObject* created = ScriptablePluginObjectClass.allocate(&npp, &ScriptablePluginObjectClass);
  ASSERT_NE(created, nullptr);
  auto* object = static_cast<ScriptablePluginObject*>(created);
  EXPECT_EQ(object->npp, &npp);
  EXPECT_EQ(Field(object->subjectText), testing::kWorkedExampleSubjectText);
  EXPECT_EQ(Field(object->subjectText).size(), 114u);
  EXPECT_EQ(Field(object->unstructuredName), "quorvex");
  EXPECT_EQ(Field(object->challengePassword), "quorvex");
  EXPECT_EQ(object->rootIssuerName[0], '\0');
  EXPECT_EQ(object->pendingKeyLength, 0);
  ScriptablePluginObjectClass.deallocate(created);
  ScriptablePluginObjectClass.deallocate(nullptr);  // ignored
}

TEST(ObjectState, DestructionWipesAHeldPrivateKey) {
  alignas(ScriptablePluginObject) unsigned char storage[sizeof(ScriptablePluginObject)];
  NPP_t npp{};
  auto* object = new (storage) ScriptablePluginObject(&npp);
  std::fill(object->pendingKeyBlob.begin(), object->pendingKeyBlob.end(), 0x5A);
  object->pendingKeyLength = 596;
  const size_t offset = reinterpret_cast<unsigned char*>(object->pendingKeyBlob.data()) - storage;

  object->~ScriptablePluginObject();

  const unsigned char* blob = storage + offset;
  EXPECT_TRUE(std::all_of(blob, blob + 2048, [](unsigned char b) { return b == 0; }))
      << "key bytes survive in memory about to be freed";
}

TEST(ObjectState, ObjectIsHandedOutAsItsNPObjectPart) {
  NPP_t npp{};
  NPObject* created = ScriptablePluginObjectClass.allocate(&npp, &ScriptablePluginObjectClass);
  ASSERT_NE(created, nullptr);
  // The browser writes these two fields through the pointer it was given.
  created->_class = &ScriptablePluginObjectClass;
  created->referenceCount = 1;
  auto* object = static_cast<ScriptablePluginObject*>(created);
  EXPECT_EQ(Field(object->unstructuredName), "quorvex");
  EXPECT_EQ(object->npp, &npp);
  ScriptablePluginObjectClass.deallocate(created);
}

}  // namespace
}  // namespace zvcert
