// The module as a host sees it, through the fourteen exports (the staged
// library's table is scripts/check-exports' to check).
#include <gtest/gtest.h>

#include <string>

#include "framework/check_module.h"
#include "framework/module_api.h"
#include "tests/module/no_channel_machine.h"

namespace {

using Getter = int(MODULE_CALL*)(ModuleHandle, ModuleChar*, int);

const std::u16string kDescription =
    u"The Windows Registry is the central configuration file for Windows. This is where the "
    u"settings and connections for all installed programs are saved.\nOver time, invalid "
    u"entries that can be deleted without risk start to add up. These entries can threaten the "
    u"stability and performance of your PC.\n\nWith the \"Registry Cleaner\" function you can "
    u"remove all of these invalid entries from the registry. The PC is scanned extensively to "
    u"identify problems which can then be quickly removed or repaired.";

class Exports : public testing::Test {
 protected:
  void SetUp() override {
    module = CreateInstanceOfModule();
    if (module != nullptr) static_cast<CCheckModule*>(module)->UseSystem(&machine);
  }
  void TearDown() override { DestroyInstanceOfModule(module); }
  NoChannelMachine machine;
  ModuleHandle module = nullptr;
};

TEST_F(Exports, StringOutEdgesForEveryGetter) {
  struct Row {
    const char* name;
    Getter getter;
    std::u16string text;
  } rows[] = {
      {"title", &GetTitleOfModule, u"Clean Registry"},
      {"identifier", &GetIdentifierOfModule, u"RegistryCleanerModule"},
      {"description", &GetDescriptionOfModule, kDescription},
      {"check button", &GetCheckBtnTitleOfModule, u"Start scan"},
      {"resolve button", &GetResolveBtnTitleOfModule, u"Fix Errors"},
      {"result text", &GetResultTextOfModule, u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const int length = static_cast<int>(row.text.size());
    ModuleChar buffer[1024];
    EXPECT_EQ(row.getter(module, nullptr, 0), length + 1);
    EXPECT_EQ(row.getter(module, nullptr, 50), length + 1);
    buffer[0] = ModuleChar('#');
    EXPECT_EQ(row.getter(module, buffer, 0), length + 1);
    EXPECT_EQ(buffer[0], ModuleChar('#'));                          // size 0: never written
    EXPECT_EQ(row.getter(module, buffer, length + 1), length + 1);  // exact fit
    EXPECT_EQ(U16(buffer), row.text);
    if (length >= 5) {
      EXPECT_EQ(row.getter(module, buffer, 6), 6);  // truncated, terminated
      EXPECT_EQ(U16(buffer), row.text.substr(0, 5));
    }
    EXPECT_EQ(row.getter(module, buffer, 1), 1);
    EXPECT_EQ(buffer[0], ModuleChar(0));
  }
}

TEST_F(Exports, TypeLevelSubResultsTextsAndTheCheckChannel) {
  DestroyInstanceOfModule(nullptr);  // ignored
  EXPECT_EQ(GetModuleTypeOfModule(module), 271u);
  EXPECT_EQ(GetResultLevelOfModule(module), 0.0);
  ModuleChar buffer[10];
  EXPECT_EQ(GetSubResultsAsJSONOfModule(module, buffer, 10), 2);
  EXPECT_EQ(U16(buffer), u"[]");
  auto* object = static_cast<CCheckModule*>(module);
  char16_t heading[128];
  object->GetDescriptionHeading(heading, 128);
  EXPECT_EQ(std::u16string(heading),
            u"What is the \"Registry\" and why does it have to be cleaned?");
  EXPECT_EQ(object->GetCheckText(nullptr, 0), 1);
  EXPECT_EQ(object->GetUndoText(nullptr, 0), 1);
  EXPECT_EQ(object->GetProgressText(nullptr, 0), 1);
  // The channel handed to the check.
  ExecuteCheckOfModule(module, nullptr, 0);
  EXPECT_EQ(object->channel(), u"CORVANE_SERVICE_CHANNEL");

  const ModuleChar named[] = {'M', 'y', 'C', 'h', 'a', 'n', 'n', 'e', 'l', 0};
  ExecuteCheckOfModule(module, named, 2);  // the length only says the text counts
  EXPECT_EQ(object->channel(), u"MyChannel");

  const ModuleChar empty[] = {0};
  ExecuteCheckOfModule(module, empty, 5);  // an empty text leaves the name as it was
  EXPECT_EQ(object->channel(), u"MyChannel");

  ExecuteCheckOfModule(module, named, 0);  // length 0: the default again
  EXPECT_EQ(object->channel(), u"CORVANE_SERVICE_CHANNEL");
}

}  // namespace
