#include "framework/service_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/system_services.h"
#include "platform/wineprefix/memory_registry.h"

namespace {

ServiceMessage Request(int32_t code) {
  ServiceMessage m;
  m.identifier = u"RegistryCleanerModule";
  m.request = code;
  return m;
}

TEST(ServiceRequestText, GoldenTexts) {
  EXPECT_EQ(WriteServiceRequest(Request(1)),
            u"[{\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":1}]");
  ServiceMessage sw = Request(3);
  sw.switchValue = -2;
  EXPECT_EQ(WriteServiceRequest(sw),
            u"[{\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":3,"
            u"\"Switch\":-2}]");
  ServiceMessage state = Request(4);
  state.switchValue = 7;
  EXPECT_EQ(WriteServiceRequest(state),
            u"[{\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":4,"
            u"\"SwitchState\":7}]");
  ServiceMessage message = Request(7);
  message.header = u"Head";
  message.message = u"Line \"one\"\n";
  EXPECT_EQ(WriteServiceRequest(message),
            u"[{\"Message\":\"Line \\\"one\\\"\\n\",\"MessageHeader\":\"Head\","
            u"\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":7}]");
  // Members of other codes are not written for codes without them.
  ServiceMessage check = Request(1);
  check.header = u"ignored";
  check.switchValue = 9;
  EXPECT_EQ(WriteServiceRequest(check), WriteServiceRequest(Request(1)));
}

TEST(ServiceReplyText, WriterAndReaderAgree) {
  ServiceMessage reply;
  reply.request = 1;
  reply.level = 30.0;
  reply.text = u"100";
  const std::u16string text = WriteServiceReply(reply);
  EXPECT_EQ(text, u"[{\"ModuleRequest\":1,\"ResultLevel\":30.000000,\"ResultText\":\"100\"}]");
  const ServiceMessage back = ReadServiceReply(text);
  EXPECT_EQ(back.request, 1);
  EXPECT_EQ(back.level, 30.0);
  EXPECT_EQ(back.text, u"100");

  ServiceMessage state;
  state.request = 4;
  state.switchState = 2;
  EXPECT_EQ(ReadServiceReply(WriteServiceReply(state)).switchState, 2);
}

TEST(ServiceReplyText, FallbacksLeaveTheDefaults) {
  struct Row {
    const char16_t* text;
    double level;
    const char16_t* result;
    int32_t request;
  } rows[] = {
      {u"", 0.0, u"", 0},
      {u"[]", 0.0, u"", 0},
      {u"{\"ModuleRequest\":1,\"ResultLevel\":30.000000,\"ResultText\":\"100\"}", 0.0, u"", 0},
      {u"[{\"ModuleRequest\":1,\"ResultLevel\":30.000000,\"ResultText\":\"1\"},"
       u"{\"ModuleRequest\":1,\"ResultLevel\":40.000000,\"ResultText\":\"2\"}]",
       0.0, u"", 0},
      {u"[{\"ModuleRequest\":1,\"ResultText\":\"100\"}]", 0.0, u"", 0},
      {u"[{\"ModuleRequest\":1,\"ResultLevel\":30.000000,\"ResultText\":100}]", 0.0, u"", 0},
      {u"[{\"ModuleRequest\":1,\"ResultLevel\":\"30\",\"ResultText\":\"100\"}]", 0.0, u"", 0},
      {u"[{\"ResultLevel\":30.000000,\"ResultText\":\"100\"}]", 0.0, u"", 0},
      {u"[\"text\"]", 0.0, u"", 0},
      {u"not json", 0.0, u"", 0},
      // Read as given.
      {u"[{\"ModuleRequest\":2,\"ResultLevel\":55.500000,\"ResultText\":\"12\"}]", 55.5, u"12", 2},
      {u"[{'ModuleRequest':5,'ResultLevel':42.250000,'ResultText':'a\tb'}]", 42.25, u"a\tb", 5},
      {u" [ {\"ResultText\":\"\",\"ModuleRequest\":1,\"ResultLevel\":100.000000,\"X\":[]} ] ",
       100.0, u"", 1},
  };
  for (const Row& row : rows) {
    const ServiceMessage m = ReadServiceReply(row.text);
    SCOPED_TRACE(std::string(row.text, row.text + std::char_traits<char16_t>::length(row.text)));
    EXPECT_EQ(m.level, row.level);
    EXPECT_EQ(m.text, row.result);
    EXPECT_EQ(m.request, row.request);
  }
}

TEST(ServiceRequestText, TheProviderReadsWhatTheModuleWrites) {
  ServiceMessage message = Request(7);
  message.header = u"H";
  message.message = u"M";
  ServiceMessage read;
  ASSERT_TRUE(ReadServiceRequest(WriteServiceRequest(message), &read));
  EXPECT_EQ(read.identifier, u"RegistryCleanerModule");
  EXPECT_EQ(read.request, 7);
  EXPECT_EQ(read.header, u"H");
  EXPECT_EQ(read.message, u"M");
  for (const char16_t* bad :
       {u"", u"[]", u"[{\"ModuleRequest\":1}]", u"[{\"ModuleIdentificator\":\"X\"}]",
        u"{\"ModuleIdentificator\":\"X\",\"ModuleRequest\":1}"})
    EXPECT_FALSE(ReadServiceRequest(bad, &read));
}

TEST(ServiceChannelNames, LocalOnlyForTheDefaultChannelAndLoopback) {
  EXPECT_EQ(ServiceChannelName(u""), u"CORVANE_SERVICE_CHANNEL");
  EXPECT_EQ(ServiceChannelName(u"other"), u"other");
  EXPECT_TRUE(IsLocalServiceChannel(u"CORVANE_SERVICE_CHANNEL"));
  EXPECT_TRUE(IsLocalServiceChannel(u"corvane_service_channel"));
  EXPECT_TRUE(IsLocalServiceChannel(u"127.0.0.1"));
  EXPECT_FALSE(IsLocalServiceChannel(u"127.0.0.2"));
  EXPECT_FALSE(IsLocalServiceChannel(u"CORVANE_SERVICE_CHANNEL2"));
  EXPECT_FALSE(IsLocalServiceChannel(u"server.example"));
  EXPECT_FALSE(IsLocalServiceChannel(u""));
}

TEST(ServiceChannelPaths, TheSuiteAroundTheModule) {
  const std::u16string module =
      u"C:\\Suite\\modules\\RegistryCleanerModule\\RegistryCleanerModule.dll";
  EXPECT_EQ(IpcLibraryPath(module), u"C:\\Suite\\modules\\common\\asp_ipc32.dll");
  EXPECT_EQ(ServiceProviderPath(module), u"C:\\Suite\\ServiceProvider.exe");
}

TEST(IpcLoaderTest, MissingLibraryGivesNoClient) {
  IpcLoader loader(u"C:\\no\\such\\folder\\asp_ipc32.dll");
  EXPECT_FALSE(loader.loaded());
  EXPECT_EQ(loader.GetClient(), nullptr);
  EXPECT_EQ(loader.CreateServer(u"x", nullptr, nullptr), nullptr);
  EXPECT_FALSE(SendServiceRequest(nullptr, u"x", u"[]", nullptr));
}

// A machine on which the service provider shows up after a number of looks,
// or never; sleeps and starts are recorded, not waited for.
class StartMachine : public platform::SystemWrapper {
 public:
  StartMachine() : SystemWrapper(platform::System::Default()) {}
  void Sleep(uint32_t ms) override { sleeps.push_back(ms); }
  uint32_t GetCurrentProcessId() override { return 10; }
  bool ListProcesses(std::vector<platform::ProcessEntry>* out) override {
    out->clear();
    out->push_back({10, 1, selfName});
    if (++looks >= appearsAtLook) out->push_back({20, 1, u"serviceprovider.EXE"});
    return true;
  }
  platform::ProcessHandle CreateProcess(std::u16string_view commandLine, std::u16string_view, bool,
                                        bool, uint32_t* error) override {
    started.emplace_back(commandLine);
    if (error != nullptr) *error = 2;
    return nullptr;
  }
  bool ShellExecute(std::u16string_view verb, std::u16string_view file,
                    std::u16string_view parameters, std::u16string_view folder, int show) override {
    shell.push_back(std::u16string(verb) + u"|" + std::u16string(file) + u"|" +
                    std::u16string(parameters) + u"|" + std::u16string(folder) + u"|" +
                    static_cast<char16_t>(u'0' + show));
    return false;
  }
  bool GetOsVersion(platform::OsVersion* v) override {
    *v = version;
    return true;
  }

  int looks = 0;
  int appearsAtLook = 1 << 30;
  std::u16string selfName = u"host.exe";
  platform::OsVersion version{6, 2, 9200, 2, 1, false};
  std::vector<uint32_t> sleeps;
  std::vector<std::u16string> started;
  std::vector<std::u16string> shell;
};

const char16_t kModule[] = u"C:\\Suite\\modules\\RegistryCleanerModule\\RegistryCleanerModule.dll";

TEST(EnsureServiceProviderTest, RunningProviderNeedsNoStartAndNoWait) {
  StartMachine m;
  m.appearsAtLook = 1;
  platform::memory::MemoryRegistry registry;
  EXPECT_TRUE(EnsureServiceProvider(true, kModule, &m, &registry));
  EXPECT_TRUE(m.sleeps.empty());
  EXPECT_TRUE(m.started.empty());
  EXPECT_TRUE(m.shell.empty());
  // The current process counts on the first look.
  StartMachine self;
  self.selfName = u"ServiceProvider.exe";
  EXPECT_TRUE(EnsureServiceProvider(false, kModule, &self, &registry));
}

TEST(EnsureServiceProviderTest, NotStartableTriesEverythingThenGivesUp) {
  StartMachine m;
  platform::memory::MemoryRegistry registry;
  EXPECT_FALSE(EnsureServiceProvider(false, kModule, &m, &registry));
  EXPECT_TRUE(m.started.empty());

  EXPECT_FALSE(EnsureServiceProvider(true, kModule, &m, &registry));
  // The task once, 1 s, the program itself, then 20 looks 250 ms apart, each
  // with another start through the task.
  ASSERT_EQ(m.sleeps.size(), 21u);
  EXPECT_EQ(m.sleeps[0], 1000u);
  for (size_t i = 1; i < m.sleeps.size(); ++i) EXPECT_EQ(m.sleeps[i], 250u);
  ASSERT_EQ(m.started.size(), 21u);
  EXPECT_EQ(m.started[0], u"schtasks.exe /RUN /TN \"corvane Service Provider\"");
  ASSERT_EQ(m.shell.size(), 1u);
  EXPECT_EQ(m.shell[0], u"runas|C:\\Suite\\ServiceProvider.exe| /register|C:\\Suite|5");
  // The process itself never counts once a start was made.
  StartMachine self;
  self.selfName = u"ServiceProvider.exe";
  self.looks = -100;
  EXPECT_TRUE(EnsureServiceProvider(true, kModule, &self, &registry));
  EXPECT_TRUE(self.sleeps.empty());
}

TEST(EnsureServiceProviderTest, StopsLookingOnceTheProviderAppears) {
  StartMachine m;
  m.appearsAtLook = 2;  // the look after the task's start
  platform::memory::MemoryRegistry registry;
  EXPECT_TRUE(EnsureServiceProvider(true, kModule, &m, &registry));
  EXPECT_EQ(m.sleeps, std::vector<uint32_t>{1000});
  EXPECT_TRUE(m.shell.empty());

  StartMachine late;
  late.appearsAtLook = 5;  // third look of the loop
  late.version = {5, 1, 2600, 2, 1, false};
  EXPECT_TRUE(EnsureServiceProvider(true, kModule, &late, &registry));
  EXPECT_EQ(late.sleeps.size(), 4u);
  ASSERT_EQ(late.shell.size(), 1u);
  // No elevation verb before Vista.
  EXPECT_EQ(late.shell[0], u"|C:\\Suite\\ServiceProvider.exe| /register|C:\\Suite|5");
}

// The Run key of the machine with one value.
void SetRunValue(platform::Registry* registry, std::u16string_view name, std::u16string_view text,
                 uint32_t type = platform::kRegSz) {
  platform::HKey key = platform::kNullKey;
  ASSERT_EQ(registry->RegCreateKeyExW(platform::kHkeyLocalMachine,
                                      u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                                      platform::kKeyAllAccess, &key, nullptr),
            0u);
  std::u16string data(text);
  ASSERT_EQ(
      registry->RegSetValueExW(key, name, type, reinterpret_cast<const uint8_t*>(data.c_str()),
                               static_cast<uint32_t>((data.size() + 1) * 2)),
      0u);
  registry->RegCloseKey(key);
}

TEST(RunKey, CommandWithoutItsQuotes) {
  platform::memory::MemoryRegistry registry;
  EXPECT_EQ(ReadRunKeyCommand(u"corvane Service Provider", &registry), u"");  // no key
  SetRunValue(&registry, u"corvane Service Provider", u"\"C:\\x\\a.exe\"");
  SetRunValue(&registry, u"plain", u"abc");
  SetRunValue(&registry, u"one", u"a");
  SetRunValue(&registry, u"number", u"ab", platform::kRegBinary);
  EXPECT_EQ(ReadRunKeyCommand(u"corvane Service Provider", &registry), u"C:\\x\\a.exe");
  EXPECT_EQ(ReadRunKeyCommand(u"plain", &registry), u"b");
  EXPECT_EQ(ReadRunKeyCommand(u"one", &registry), u"");
  EXPECT_EQ(ReadRunKeyCommand(u"number", &registry), u"");
  EXPECT_EQ(ReadRunKeyCommand(u"missing", &registry), u"");
}

TEST(RunKey, StartThroughTheRunKeyOnXpOnly) {
  platform::memory::MemoryRegistry registry;
  StartMachine xp;
  xp.version = {5, 1, 2600, 2, 1, false};
  StartServiceProvider(&xp, &registry);  // no Run-key value: nothing to start
  EXPECT_TRUE(xp.started.empty());
  // The command names a program that does not exist: nothing is started either.
  SetRunValue(&registry, u"corvane Service Provider", u"\"C:\\no\\such\\ServiceProvider.exe\"");
  StartServiceProvider(&xp, &registry);
  EXPECT_TRUE(xp.started.empty());

  StartMachine vista;
  vista.version = {6, 0, 6002, 2, 1, false};
  StartServiceProvider(&vista, &registry);
  EXPECT_EQ(vista.started,
            std::vector<std::u16string>{u"schtasks.exe /RUN /TN \"corvane Service Provider\""});
}

}  // namespace
