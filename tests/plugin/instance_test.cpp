// Instances: creation, the routine table's codes, the scriptable object's
// hand-out and life.
#include "browser/plugin_test.h"

namespace testbrowser {
namespace {

using ::testing::IsEmpty;

class Instances : public PluginTest {
 protected:
  const NPPluginFuncs& funcs() { return browser.pluginFuncs(); }
};

TEST_F(Instances, NewAsksForTheTwelveMemberIdentifiersEachTime) {
  auto first = browser.NewInstance();
  EXPECT_EQ(first->newError(), NPERR_NO_ERROR);
  EXPECT_NE(first->npp()->pdata, nullptr);
  EXPECT_EQ(Browser::CallsFromModule(Slot::getstringidentifier), 12);
  auto second = browser.NewInstance();
  EXPECT_EQ(Browser::CallsFromModule(Slot::getstringidentifier), 24);

  // Both instances' objects recognise members by the shared identifiers.
  auto a = first->GetScriptableObject();
  auto b = second->GetScriptableObject();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a->get(), b->get());
  EXPECT_TRUE(a->HasMethod("GetCSR"));
  EXPECT_TRUE(b->HasProperty("Version"));
}

TEST_F(Instances, RoutinesRefuseANullInstance) {
  char mime[] = "application/zvcert";
  NPWindow window{};
  uint16_t stype = 0;
  EXPECT_EQ(funcs().newp(mime, nullptr, 1, 0, nullptr, nullptr, nullptr),
            NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(funcs().destroy(nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(funcs().setwindow(nullptr, &window), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(funcs().getvalue(nullptr, NPPVpluginNameString, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(funcs().setvalue(nullptr, NPNVariable{}, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(funcs().newstream(nullptr, mime, nullptr, 0, &stype), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(funcs().destroystream(nullptr, nullptr, 0), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(funcs().writeready(nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(funcs().write(nullptr, nullptr, 0, 10, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  EXPECT_EQ(funcs().event(nullptr, nullptr), 0);
}

TEST_F(Instances, RoutinesWithoutARecordAnswerAsSpecified) {
  NPP_t bare{};  // an instance whose NPP_New never ran
  NPWindow window{};
  const char* text = nullptr;
  EXPECT_EQ(funcs().destroy(&bare, nullptr), NPERR_NO_ERROR);
  EXPECT_EQ(funcs().setwindow(&bare, &window), NPERR_GENERIC_ERROR);
  EXPECT_EQ(funcs().getvalue(&bare, NPPVpluginNameString, &text), NPERR_GENERIC_ERROR);
  EXPECT_EQ(text, nullptr);
}

TEST_F(Instances, StreamsAreAcceptedAndIgnored) {
  auto instance = browser.NewInstance();
  NPP npp = instance->npp();
  char mime[] = "text/plain";
  uint16_t stype = 0x5A5A;
  char data[16] = {};
  EXPECT_EQ(funcs().newstream(npp, mime, nullptr, 1, &stype), NPERR_NO_ERROR);
  EXPECT_EQ(stype, 0x5A5A);  // left as the browser set it
  EXPECT_EQ(funcs().writeready(npp, nullptr), 268435455);
  for (int32_t len : {0, 1, 16, 100000}) {
    EXPECT_EQ(funcs().write(npp, nullptr, 7, len, data), len);
  }
  funcs().asfile(npp, nullptr, "C:\\nothing.txt");
  EXPECT_EQ(funcs().destroystream(npp, nullptr, 0), NPERR_NO_ERROR);
  funcs().print(npp, nullptr);
  funcs().urlnotify(npp, "http://127.0.0.1/", 0, nullptr);
  EXPECT_EQ(funcs().event(npp, data), 0);
  EXPECT_EQ(funcs().setvalue(npp, NPNVariable{}, data), NPERR_NO_ERROR);
}

TEST_F(Instances, GetValueNamesThePluginAndRefusesOtherVariables) {
  auto instance = browser.NewInstance();
  const char* text = nullptr;
  ASSERT_EQ(funcs().getvalue(instance->npp(), NPPVpluginNameString, &text), NPERR_NO_ERROR);
  EXPECT_STREQ(text, "NPRuntimeTest");
  ASSERT_EQ(funcs().getvalue(instance->npp(), NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
  EXPECT_STREQ(text, "NPRuntime scriptability API test plugin");

  for (int variable : {0, 3, 4, 5, 6, 7, 11, 12, 13, 14, 16, 1000}) {
    void* untouched = &text;
    EXPECT_EQ(funcs().getvalue(instance->npp(), static_cast<NPPVariable>(variable), &untouched),
              NPERR_GENERIC_ERROR)
        << variable;
    EXPECT_EQ(untouched, &text) << variable;
  }
}

TEST_F(Instances, HandsOutOneObjectWithOneReferencePerRequest) {
  auto instance = browser.NewInstance();
  auto first = instance->GetScriptableObject();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Browser::ObjectReferences(first->get()), 2);  // the instance's and ours
  auto second = instance->GetScriptableObject();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->get(), first->get());
  EXPECT_EQ(Browser::ObjectReferences(first->get()), 3);
  EXPECT_EQ(Browser::CallsFromModule(Slot::createobject), 1);
  EXPECT_EQ(Browser::CallsFromModule(Slot::retainobject), 2);
  EXPECT_EQ(Browser::LiveObjects(), 1u);
}

TEST_F(Instances, ObjectOutlivesItsInstanceWhileThePageHoldsIt) {
  auto instance = browser.NewInstance();
  auto object = instance->GetScriptableObject();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(instance->Destroy(), NPERR_NO_ERROR);
  EXPECT_EQ(instance->npp()->pdata, nullptr);
  EXPECT_EQ(Browser::ObjectReferences(object->get()), 1);
  // Still usable: its state does not depend on the instance record.
  EXPECT_EQ(Int(object->GetProperty("Version")), 1022);
  object.reset();
  ExpectNothingLeft();
}

TEST_F(Instances, DestroyDropsTheCreationReference) {
  auto instance = browser.NewInstance();
  instance->GetScriptableObject().reset();
  EXPECT_EQ(Browser::LiveObjects(), 1u);
  EXPECT_EQ(instance->Destroy(), NPERR_NO_ERROR);
  EXPECT_EQ(Browser::CallsFromModule(Slot::releaseobject), 1);
  ExpectNothingLeft();
}

TEST_F(Instances, DestroyWithoutAnObjectReleasesNothing) {
  auto instance = browser.NewInstance();
  EXPECT_EQ(instance->Destroy(), NPERR_NO_ERROR);
  EXPECT_EQ(Browser::CallsFromModule(Slot::releaseobject), 0);
  EXPECT_EQ(Browser::CallsFromModule(Slot::createobject), 0);
  ExpectNothingLeft();
}

TEST_F(Instances, AFailedCreationIsRetriedOnTheNextRequest) {
  auto instance = browser.NewInstance();
  Browser::FailCreateObject(1);
  NPError error = NPERR_GENERIC_ERROR;
  EXPECT_EQ(instance->GetScriptableObject(&error), nullptr);
  EXPECT_EQ(error, NPERR_NO_ERROR);
  EXPECT_EQ(Browser::CallsFromModule(Slot::retainobject), 0);

  auto object = instance->GetScriptableObject(&error);
  EXPECT_EQ(error, NPERR_NO_ERROR);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(Browser::ObjectReferences(object->get()), 2);
}

TEST_F(Instances, ManyInstancesComeAndGoWithoutLeaks) {
  for (int i = 0; i < 50; ++i) {
    auto instance = browser.NewInstance();
    auto object = instance->GetScriptableObject();
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(object->GetProperty("HostName").ok);
    object.reset();
    ASSERT_EQ(instance->Destroy(), NPERR_NO_ERROR);
  }
  ExpectNothingLeft();
  EXPECT_THAT(Browser::UnexpectedCalls(), IsEmpty());
}

}  // namespace
}  // namespace testbrowser
