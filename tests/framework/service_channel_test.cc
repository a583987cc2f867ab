#include "framework/service_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/system_services.h"
#include "platform/wineprefix/memory_registry.h"
#include "tests/framework/test_machine.h"

namespace {

// The texts the module sends, and the provider reads them back.
TEST(ServiceRequestText, GoldenTextsReadBack) {
  const struct {
    int32_t code, switchValue;
    const char16_t *header, *message, *text;
  } rows[] = {
      {1, 0, u"", u"",
       u"[{\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":1}]"},
      // Members of other codes are not written for codes without them.
      {1, 9, u"ignored", u"",
       u"[{\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":1}]"},
      {3, -2, u"", u"",
       u"[{\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":3,\"Switch\":-2}]"},
      {4, 7, u"", u"",
       u"[{\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":4,"
       u"\"SwitchState\":7}]"},
      {7, 0, u"Head", u"Line \"one\"\n",
       u"[{\"Message\":\"Line \\\"one\\\"\\n\",\"MessageHeader\":\"Head\","
       u"\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":7}]"},
  };
  const std::u16string id = u"RegistryCleanerModule";
  for (const auto& row : rows) {
    const ServiceMessage message{id, row.code, row.header, row.message, row.switchValue, 0, u"", 0};
    EXPECT_EQ(WriteServiceRequest(message), row.text) << row.code;
    ServiceMessage read;
    ASSERT_TRUE(ReadServiceRequest(row.text, &read));
    EXPECT_EQ(read.identifier + read.header + read.message,
              id + (row.code == 7 ? message.header + message.message : u""));
    EXPECT_EQ(read.request, row.code);
  }
  ServiceMessage read;
  for (const char16_t* bad :
       {u"", u"[]", u"[{\"ModuleRequest\":1}]", u"[{\"ModuleIdentificator\":\"X\"}]",
        u"{\"ModuleIdentificator\":\"X\",\"ModuleRequest\":1}"})
    EXPECT_FALSE(ReadServiceRequest(bad, &read));
}

// The reply as the provider writes it, what the reader takes, and its defaults for the rest.
TEST(ServiceReplyText, GoldenTextAndFallbacks) {
  const char16_t golden[] =
      u"[{\"ModuleRequest\":4,\"ResultLevel\":30.000000,\"ResultText\":\"100\",\"SwitchState\":2}]";
  ServiceMessage reply;
  reply.request = 4;
  reply.level = 30.0;
  reply.text = u"100";
  reply.switchState = 2;
  EXPECT_EQ(WriteServiceReply(reply), golden);
  EXPECT_EQ(ReadServiceReply(golden).switchState, 2);
  const struct Row {
    const char16_t *text, *result;
    double level;
    int32_t request;
  } rows[] = {
      {u"", u"", 0.0, 0},
      {u"{\"ModuleRequest\":1,\"ResultLevel\":30.000000,\"ResultText\":\"100\"}", u"", 0.0, 0},
      {u"[{\"ModuleRequest\":1,\"ResultLevel\":30.000000,\"ResultText\":\"1\"},"
       u"{\"ModuleRequest\":1,\"ResultLevel\":40.000000,\"ResultText\":\"2\"}]",
       u"", 0.0, 0},
      {u"[{\"ModuleRequest\":1,\"ResultText\":\"100\"}]", u"", 0.0, 0},
      {u"[{\"ModuleRequest\":1,\"ResultLevel\":30.000000,\"ResultText\":100}]", u"", 0.0, 0},
      {u"[{\"ModuleRequest\":1,\"ResultLevel\":\"30\",\"ResultText\":\"100\"}]", u"", 0.0, 0},
      {u"[{\"ResultLevel\":30.000000,\"ResultText\":\"100\"}]", u"", 0.0, 0},
      {u"[\"text\"]", u"", 0.0, 0},
      // Read as given.
      {golden, u"100", 30.0, 4},
      {u"[{\"ModuleRequest\":2,\"ResultLevel\":55.500000,\"ResultText\":\"12\"}]", u"12", 55.5, 2},
      {u"[{'ModuleRequest':5,'ResultLevel':42.250000,'ResultText':'a\tb'}]", u"a\tb", 42.25, 5},
      {u" [ {\"ResultText\":\"\",\"ModuleRequest\":1,\"ResultLevel\":100.000000,\"X\":[]} ] ", u"",
       100.0, 1},
  };
  for (const Row& row : rows) {
    const ServiceMessage m = ReadServiceReply(row.text);
    SCOPED_TRACE(std::string(row.text, row.text + std::char_traits<char16_t>::length(row.text)));
    EXPECT_EQ(m.level, row.level);
    EXPECT_EQ(m.text, row.result);
    EXPECT_EQ(m.request, row.request);
  }
}

TEST(ServiceChannelNames, LocalOnlyForTheDefaultChannelAndLoopback) {
  EXPECT_EQ(ServiceChannelName(u""), u"CORVANE_SERVICE_CHANNEL");
  EXPECT_TRUE(IsLocalServiceChannel(u"CORVANE_SERVICE_CHANNEL"));
  EXPECT_TRUE(IsLocalServiceChannel(u"corvane_service_channel"));
  EXPECT_TRUE(IsLocalServiceChannel(u"127.0.0.1"));
  EXPECT_FALSE(IsLocalServiceChannel(u"127.0.0.2"));
  EXPECT_FALSE(IsLocalServiceChannel(u"CORVANE_SERVICE_CHANNEL2"));
}

// The service provider shows up at a given look, or never; nothing starts and nobody waits.
struct StartMachine : TestMachine {
  StartMachine() {
    version = platform::OsVersion{6, 2, 9200, 2, 1, false};
    fakeStarts = true;
    self = 10;
    listProcesses = [this](std::vector<platform::ProcessEntry>* out) {
      *out = {{10, 1, selfName}};
      if (++looks >= appearsAtLook) out->push_back({20, 1, u"serviceprovider.EXE"});
      return true;
    };
  }
  int looks = 0, appearsAtLook = 1 << 30;
  std::u16string selfName = u"host.exe";
};

const char16_t kModule[] = u"C:\\Suite\\modules\\RegistryCleanerModule\\RegistryCleanerModule.dll";

// The provider found, started by its task (at each look), as the program itself, or not at all.
TEST(EnsureServiceProviderTest, StartsWhatItMayAndLooksUntilTheProviderAppears) {
  constexpr int kNever = 1 << 30;
  const struct {
    const char* name;
    const char16_t *self, *shell;
    bool mayStart, vista, found;
    int appearsAtLook;
    size_t sleeps;
  } rows[] = {
      {"running", u"host.exe", nullptr, true, true, true, 1, 0},
      {"the current process counts at the first look", u"ServiceProvider.exe", nullptr, false, true,
       true, kNever, 0},
      {"not running, not to be started", u"host.exe", nullptr, false, true, false, kNever, 0},
      {"up after the task's start", u"host.exe", nullptr, true, true, true, 2, 1},
      // No elevation verb before Vista; the third look of the loop finds it.
      {"the program itself", u"host.exe", u"|C:\\Suite\\ServiceProvider.exe| /register|C:\\Suite|5",
       true, false, true, 5, 4},
      // The task once, 1 s, the program itself, then 20 looks 250 ms apart.
      {"never", u"host.exe", u"runas|C:\\Suite\\ServiceProvider.exe| /register|C:\\Suite|5", true,
       true, false, kNever, 21},
  };
  platform::memory::MemoryRegistry registry;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    StartMachine m;
    m.appearsAtLook = row.appearsAtLook;
    m.selfName = row.self;
    if (!row.vista) m.version = platform::OsVersion{5, 1, 2600, 2, 1, false};
    EXPECT_EQ(EnsureServiceProvider(row.mayStart, kModule, &m, &registry), row.found);
    ASSERT_EQ(m.sleeps.size(), row.sleeps);
    for (size_t i = 0; i < m.sleeps.size(); ++i) EXPECT_EQ(m.sleeps[i], i == 0 ? 1000u : 250u);
    EXPECT_EQ(m.shell,
              row.shell ? std::vector<std::u16string>{row.shell} : std::vector<std::u16string>{});
    // Before Vista the task is the Run key's command, which this machine lacks.
    EXPECT_EQ(m.started,
              std::vector<std::u16string>(row.vista ? row.sleeps : 0,
                                          u"schtasks.exe /RUN /TN \"corvane Service Provider\""));
  }
}

// Before Vista the Run key's command, first and last character taken off; from Vista the task.
TEST(RunKey, CommandWithoutItsQuotesStartedOnXpOnly) {
  platform::memory::MemoryRegistry registry;
  EXPECT_EQ(ReadRunKeyCommand(u"corvane Service Provider", &registry), u"");  // no key
  StartMachine xp;
  xp.version = platform::OsVersion{5, 1, 2600, 2, 1, false};
  StartServiceProvider(&xp, &registry);  // no Run-key value: nothing to start
  const char hive[] = R"(WINE REGISTRY Version 2
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"corvane Service Provider"="\"C:\\x\\a.exe\""
"plain"="abc"
"one"="a"
"number"=hex:61,00,62,00,00,00
)";
  ASSERT_TRUE(registry.LoadHiveText(platform::memory::kMachineHive, hive).empty());
  EXPECT_EQ(ReadRunKeyCommand(u"corvane Service Provider", &registry), u"C:\\x\\a.exe");
  EXPECT_EQ(ReadRunKeyCommand(u"plain", &registry), u"b");
  EXPECT_EQ(ReadRunKeyCommand(u"one", &registry), u"");
  EXPECT_EQ(ReadRunKeyCommand(u"number", &registry), u"");
  // The command names a program that does not exist: nothing is started either.
  StartServiceProvider(&xp, &registry);
  EXPECT_TRUE(xp.started.empty());
  StartMachine vista;
  vista.version = platform::OsVersion{6, 0, 6002, 2, 1, false};
  StartServiceProvider(&vista, &registry);
  EXPECT_EQ(vista.started,
            std::vector<std::u16string>{u"schtasks.exe /RUN /TN \"corvane Service Provider\""});
}

}  // namespace
