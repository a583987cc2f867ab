// The IPC library end to end: our server and client on a real channel, and peers that misbehave.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ipc/frame.h"
#include "ipc/ipc_api.h"
#include "ipc/timing.h"
#include "platform/ipc_transport.h"
#include "tests/support/staged_suite.h"
#ifndef _WIN32
#include "platform/posix/ipc_directory.h"
#include "platform/system.h"
#include "platform/wineprefix/wine_prefix.h"
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Text = std::basic_string<IpcChar>;
using Clock = std::chrono::steady_clock;

Text ToIpc(std::u16string_view text) { return Text(text.begin(), text.end()); }

std::u16string FromIpc(const IpcChar* text, size_t chars) { return {text, text + chars}; }

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A handler: request in, reply out, false for none. Counts calls, checks the terminator.
struct Service {
  using Function = std::function<bool(const std::u16string& request, std::u16string* reply)>;
  explicit Service(Function function) : function_(std::move(function)) {}

  static int IPC_CALL Handle(void* context, const IpcChar* request, unsigned bytes,
                             IpcSetReply setReply, void* replyHandle) {
    auto* self = static_cast<Service*>(context);
    ++self->calls;
    if (request[bytes / 2] != 0) self->unterminated = true;
    std::u16string reply;
    if (!self->function_(FromIpc(request, bytes / 2), &reply)) return 0;
    const Text out = ToIpc(reply);
    setReply(replyHandle, out.data(), static_cast<unsigned>(out.size() * 2));
    return 1;
  }

  std::atomic<int> calls{0};
  std::atomic<bool> unterminated{false};
  Function function_;
};

bool Echo(const std::u16string& request, std::u16string* reply) {
  *reply = u"re: " + request;
  return true;
}

// A listener of ours that runs script on every connection, in its own thread.
struct RawServer {
  using Script = std::function<void(platform::IpcConnection&)>;
  RawServer(std::u16string_view channel, Script script) : script_(std::move(script)) {
    listener_ = platform::IpcListen(channel, &error);
    if (listener_ != nullptr)
      thread_ = std::thread([this] {
        while (auto connection = listener_->Accept()) script_(*connection);
      });
  }
  ~RawServer() {
    if (listener_ == nullptr) return;
    listener_->Close();
    thread_.join();
  }
  bool listening() const { return listener_ != nullptr; }
  std::string error;
  Script script_;
  std::unique_ptr<platform::IpcListener> listener_;
  std::thread thread_;
};

// Reads and drops everything until the peer closes or limitMs passes.
platform::IpcIo DrainUntilClosed(platform::IpcConnection& connection, uint32_t limitMs) {
  char byte;
  const auto start = Clock::now();
  platform::IpcIo io;
  do {
    const long long spent = MillisecondsSince(start);
    io = connection.Read(&byte, 1, spent >= limitMs ? 0 : limitMs - static_cast<uint32_t>(spent));
  } while (io == platform::IpcIo::kOk);
  return io;
}

std::string Header(const char magic[4], uint32_t length) {
  std::string out(magic, 4);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  return out;
}

class Ipc : public testing::Test {
 protected:
  void SetUp() override {
    ipc::SetTiming({.keepAliveMs = 50, .silenceMs = 3000, .requestMs = 1000, .connectMs = 3000});
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::u16string suffix = UniqueName(u"");
    channel = u"ipc-test-" + std::u16string(name.begin(), name.end()) + u"-" + suffix;
#ifndef _WIN32
    folder = fs::temp_directory_path() / ("rc-ipc-" + std::string(suffix.begin(), suffix.end()));
    platform::posix::SetIpcDirectory(folder.string());
#endif
    client = CreateClientInstance();
    ASSERT_NE(client, nullptr);
  }

  void TearDown() override {
    for (IpcServer* server : servers) DestroyServerInstance(server);
    DestroyClientInstance(client);
    ipc::SetTiming(ipc::Timing());
#ifndef _WIN32
    platform::posix::SetIpcDirectory({});
    std::error_code ignored;
    fs::remove_all(folder, ignored);
#endif
  }

  IpcServer* Serve(Service* service) {
    IpcServer* server = CreateServerInstance(ToIpc(channel).c_str(), &Service::Handle, service);
    if (server != nullptr) servers.push_back(server);
    return server;
  }

  void StopServing(IpcServer* server) {
    std::erase(servers, server);
    DestroyServerInstance(server);
  }

  struct Result {
    bool ok = false;
    unsigned bytes = 0;
    std::u16string text{};
  };

  // One send as the module makes it, into capacity bytes with an untouched guard area behind.
  Result Send(std::u16string_view request, unsigned capacity = 8192, std::u16string_view to = {}) {
    const Text target = ToIpc(to.empty() ? channel : to), text = ToIpc(request);
    const size_t guardAt = capacity / 2;
    std::vector<IpcChar> buffer(guardAt + 8, IpcChar(u'#'));
    Result result{false, capacity};
    result.ok = client->Send(target.c_str(), text.data(), static_cast<unsigned>(text.size() * 2),
                             buffer.data(), &result.bytes, -1);
    for (size_t i = guardAt; i < buffer.size(); ++i)
      EXPECT_EQ(buffer[i], IpcChar(u'#')) << "written past the capacity at " << i;
    EXPECT_LE(result.bytes, result.ok ? capacity : 0u);
    result.text = FromIpc(buffer.data(), result.bytes / 2);
    EXPECT_TRUE(!result.ok || result.bytes + 2 > capacity || buffer[result.bytes / 2] == 0)
        << "no terminator after the reply";
    return result;
  }

  std::u16string channel;
  fs::path folder;
  IpcClient* client = nullptr;
  std::vector<IpcServer*> servers;
};

// A refusing, throwing or over-long handler ends only its request; a cut reply still counts.
TEST_F(Ipc, RequestsAndRepliesArriveWhole) {
  std::u16string longReply;
  for (int i = 0; i < 5000; ++i) longReply.push_back(static_cast<char16_t>(u'a' + i % 26));
  Service service([&](const std::u16string& request, std::u16string* reply) {
    if (request == u"throw") throw std::runtime_error("handler failure");
    *reply = request == u"empty"  ? u""
             : request == u"huge" ? std::u16string(IPC_MAX_MESSAGE_BYTES / 2 + 1, u'h')
             : request == u"long" ? longReply
             : request.size() > 9000
                 ? std::u16string(1, static_cast<char16_t>(u'0' + request.size() % 10))
                 : u"re: " + request;
    return request != u"refuse";
  });
  ASSERT_NE(Serve(&service), nullptr);
  EXPECT_EQ(client->GetVersion(), IPC_VERSION);
  // Channel names ignore ASCII case only.
  std::u16string upper = channel;
  for (char16_t& c : upper)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  EXPECT_EQ(Send(u"x", 8192, upper).text, u"re: x");
  EXPECT_FALSE(Send(u"x", 8192, channel + u"-other").ok);
  // A request of the largest size still goes through.
  const std::u16string large(IPC_MAX_MESSAGE_BYTES / 2 - 4, u'x');
  struct Row {
    std::u16string request, reply;
    bool ok = true;
    unsigned capacity = 8192;
  } rows[] = {
      {u"[{\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":1}]",
       u"re: [{\"ModuleIdentificator\":\"RegistryCleanerModule\",\"ModuleRequest\":1}]"},
      {u"", u"re: "},
      {u"empty", u""},
      {u"Gr\u00fc\u00dfe \u20ac \U0001D11E \uFFFF",
       u"re: Gr\u00fc\u00dfe \u20ac \U0001D11E \uFFFF"},
      {std::u16string(u"a\0b", 3), std::u16string(u"re: a\0b", 7)},  // inner zeros kept
      {large, std::u16string(1, u'0' + large.size() % 10)},
      {u"refuse", u"", false},
      {u"throw", u"", false},
      {u"huge", u"", false},
      {u"ok", u"re: ok"},
      {u"long", longReply.substr(0, 4096)},
      {u"long", longReply, true, 10000},
      {u"long", longReply, true, 10002},
      {u"long", longReply.substr(0, 3), true, 7},
      {u"long", u"", true, 1},
      {u"long", u"", true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.capacity);
    const Result result = Send(row.request, row.capacity);
    EXPECT_EQ(result.ok, row.ok);
    EXPECT_EQ(result.text, row.reply);
    EXPECT_EQ(result.bytes, row.reply.size() * 2);
  }
  EXPECT_FALSE(service.unterminated);
}

// Keep-alives carry a check far past the silence limit; a silent server costs only that limit.
TEST_F(Ipc, KeepAlivesCarryALongHandlerAndSilenceEndsTheWait) {
  ipc::SetTiming({.keepAliveMs = 40, .silenceMs = 250, .requestMs = 1000, .connectMs = 3000});
  Service service([](const std::u16string&, std::u16string* reply) {
    std::this_thread::sleep_for(1200ms);
    *reply = u"done";
    return true;
  });
  ASSERT_NE(Serve(&service), nullptr);
  EXPECT_EQ(Send(u"check").text, u"done");
  RawServer silent(channel + u"-silent", [](platform::IpcConnection& connection) {
    DrainUntilClosed(connection, 20000);  // reads the request, never answers
  });
  ASSERT_TRUE(silent.listening()) << silent.error;
  const auto start = Clock::now();
  EXPECT_FALSE(Send(u"check", 8192, channel + u"-silent").ok);
  // Far below the shipped 30 s: the configured limit was the one applied.
  EXPECT_LT(MillisecondsSince(start), 10000);
}

TEST_F(Ipc, BadRepliesFailTheSend) {
  struct Row {
    const char* name;
    std::string bytes;      // sent after the request was read
    std::u16string text{};  // the reply received; none: the send fails
  } rows[] = {
      {"closed without reply", ""},
      {"garbage", "this is no frame at all"},
      {"request frame instead of reply", ipc::EncodeFrame(ipc::FrameType::kRequest, nullptr, 0)},
      {"odd length", Header("IPCr", 3) + "abc"},
      {"over 1 MiB", Header("IPCr", IPC_MAX_MESSAGE_BYTES + 2)},
      {"cut short", Header("IPCr", 100) + std::string(10, 'a')},
      {"half a header", "IPCr"},
      {"keep-alives, then the reply",
       ipc::EncodeFrame(ipc::FrameType::kKeepAlive, nullptr, 0) +
           ipc::EncodeFrame(ipc::FrameType::kKeepAlive, nullptr, 0) + Header("IPCr", 4) +
           std::string("o\0k\0", 4),
       u"ok"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::u16string name = channel + u"-" + std::u16string(row.name, row.name + 4);
    RawServer server(name, [&](platform::IpcConnection& connection) {
      std::string request(ipc::kFrameHeaderBytes + 10, '\0');  // the frame of "check"
      if (connection.Read(request.data(), request.size(), 3000) == platform::IpcIo::kOk)
        connection.Write(row.bytes.data(), row.bytes.size(), 3000);
    });
    ASSERT_TRUE(server.listening()) << server.error;
    const Result result = Send(u"check", 8192, name);
    EXPECT_EQ(result.ok, !row.text.empty());
    EXPECT_EQ(result.text, row.text);
  }
}

// Bad arguments fail at once; a client sending garbage, stalling or hanging up costs only itself.
TEST_F(Ipc, BadArgumentsAndRequestsCostTheServerNothing) {
  Service service(Echo);
  ASSERT_NE(Serve(&service), nullptr);
  const Text name = ToIpc(channel), empty, request = ToIpc(u"check");
  IpcChar reply[16];
  struct Argument {
    const char* name;
    const IpcChar *channel, *request;
    unsigned requestBytes;
    IpcChar* reply;
    bool withBytes;
  } arguments[] = {
      {"null channel", nullptr, request.data(), 10, reply, true},
      {"empty channel", empty.c_str(), request.data(), 10, reply, true},
      {"null request with a size", name.c_str(), nullptr, 10, reply, true},
      {"odd request size", name.c_str(), request.data(), 9, reply, true},
      {"request over 1 MiB", name.c_str(), request.data(), IPC_MAX_MESSAGE_BYTES + 2, reply, true},
      {"null reply with a capacity", name.c_str(), request.data(), 10, nullptr, true},
      {"null reply size", name.c_str(), request.data(), 10, reply, false},
  };
  for (const Argument& row : arguments) {
    SCOPED_TRACE(row.name);
    unsigned bytes = sizeof(reply);
    EXPECT_FALSE(client->Send(row.channel, row.request, row.requestBytes, row.reply,
                              row.withBytes ? &bytes : nullptr, -1));
    EXPECT_EQ(bytes, row.withBytes ? 0u : sizeof(reply));
  }
  EXPECT_EQ(service.calls, 0);
  // A null request of size 0 is an empty request.
  unsigned bytes = sizeof(reply);
  EXPECT_TRUE(client->Send(name.c_str(), nullptr, 0, reply, &bytes, -1));
  EXPECT_EQ(FromIpc(reply, bytes / 2), u"re: ");

  EXPECT_EQ(CreateServerInstance(nullptr, &Service::Handle, &service), nullptr);
  EXPECT_EQ(CreateServerInstance(empty.c_str(), &Service::Handle, &service), nullptr);
  EXPECT_EQ(CreateServerInstance(ToIpc(channel + u"-x").c_str(), nullptr, &service), nullptr);
  DestroyClientInstance(nullptr);
  DestroyServerInstance(nullptr);
  struct Row {
    const char* name;
    std::string bytes;
    bool hangUp;  // the raw client closes after writing
  } rows[] = {
      {"garbage", "GET / HTTP/1.0\r\n\r\n", false},
      {"reply frame as request", ipc::EncodeFrame(ipc::FrameType::kReply, nullptr, 0), false},
      {"odd length", Header("IPCq", 5) + "abcde", false},
      {"over 1 MiB", Header("IPCq", IPC_MAX_MESSAGE_BYTES + 2), false},
      {"keep-alive with payload", Header("IPCk", 2) + "ab", false},
      {"payload cut short, then gone", Header("IPCq", 100) + std::string(10, 'a'), true},
      {"half a header, then gone", "IPC", true},
      {"half a header, then silence", "IPCq\x04", false},
      {"nothing at all", "", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<platform::IpcConnection> raw = platform::IpcConnect(channel, 3000);
    ASSERT_NE(raw, nullptr);
    ASSERT_EQ(raw->Write(row.bytes.data(), row.bytes.size(), 3000), platform::IpcIo::kOk);
    if (row.hangUp) continue;  // the raw client closes as it goes
    // Others are served while this client sits there.
    EXPECT_EQ(Send(u"meanwhile").text, u"re: meanwhile");
    // Hung up on at once for a bad frame, after the request limit (1 s) for a stall.
    EXPECT_EQ(DrainUntilClosed(*raw, 10000), platform::IpcIo::kClosed);
  }
  EXPECT_EQ(Send(u"after").text, u"re: after");
  EXPECT_EQ(service.calls, 1 + 7 + 1);  // the empty request, "meanwhile" and "after" only
}

// One server per channel; without one a send fails at once.
TEST_F(Ipc, OneServerPerChannelAndNoWaitWithout) {
  ipc::SetTiming({.keepAliveMs = 50, .silenceMs = 20000, .requestMs = 1000, .connectMs = 20000});
  auto failsAtOnce = [&] {
    const auto start = Clock::now();
    return !Send(u"check").ok && MillisecondsSince(start) < 5000;
  };
  EXPECT_TRUE(failsAtOnce());
  Service first(Echo), second(Echo);
  IpcServer* server = Serve(&first);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(Serve(&second), nullptr);
  EXPECT_TRUE(Send(u"a").ok);
  StopServing(server);
  EXPECT_TRUE(failsAtOnce());
  ASSERT_NE(Serve(&second), nullptr);
  EXPECT_TRUE(Send(u"b").ok);
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(second.calls, 1);
}

TEST_F(Ipc, StoppingWaitsForRunningHandlersAndDropsIdleClients) {
  std::atomic<bool> started{false}, finished{false};
  Service service([&](const std::u16string&, std::u16string* reply) {
    started = true;
    std::this_thread::sleep_for(300ms);
    finished = true;
    *reply = u"late";
    return true;
  });
  // The idle client would otherwise be kept 20 s.
  ipc::SetTiming({.keepAliveMs = 50, .silenceMs = 3000, .requestMs = 20000, .connectMs = 3000});
  IpcServer* server = Serve(&service);
  ASSERT_NE(server, nullptr);
  std::unique_ptr<platform::IpcConnection> idle = platform::IpcConnect(channel, 3000);
  ASSERT_NE(idle, nullptr);
  Result result;
  std::thread sender([&] { result = Send(u"check"); });
  while (!started) std::this_thread::sleep_for(5ms);
  const auto start = Clock::now();
  StopServing(server);
  EXPECT_TRUE(finished);
  EXPECT_LT(MillisecondsSince(start), 10000);
  sender.join();
  EXPECT_FALSE(result.ok);  // the connection ended with the server
  EXPECT_EQ(DrainUntilClosed(*idle, 5000), platform::IpcIo::kClosed);
}

#ifndef _WIN32

TEST_F(Ipc, OnlyAPrivateSocketFolderIsUsed) {
  const fs::path elsewhere = folder.string() + "-target";
  struct Row {
    const char* name;
    std::function<void()> make;
  } rows[] = {
      {"open to others",
       [&] {
         fs::create_directory(folder);
         fs::permissions(folder, fs::perms(0755));
       }},
      {"a link to a private folder",
       [&] {
         fs::create_directory(elsewhere);
         fs::permissions(elsewhere, fs::perms::owner_all);
         fs::create_directory_symlink(elsewhere, folder);
       }},
      {"a file", [&] { std::ofstream(folder) << "x"; }},
  };
  Service service(Echo);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.make();
    EXPECT_EQ(Serve(&service), nullptr);
    EXPECT_FALSE(Send(u"x").ok);
    fs::remove_all(folder);
    fs::remove_all(elsewhere);
  }
  // The folder a server makes is the user's alone.
  ASSERT_NE(Serve(&service), nullptr);
  EXPECT_EQ(fs::symlink_status(folder).type(), fs::file_type::directory);
  EXPECT_EQ(fs::symlink_status(folder).permissions(), fs::perms::owner_all);
}

// A starting server clears what the dead left, not a live mutex holder's; the last leaver tidies.
TEST_F(Ipc, TheFolderKeepsNoLeftovers) {
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::owner_all);
  for (const char* name : {"0000000000000001.lock", "0000000000000001.sock",
                           "0000000000000002.sock", "0000000000000003.mutex"})
    std::ofstream(folder / name) << "left over";
  // Also at the channel's own name, where nobody listens.
  const fs::path socket = platform::IpcEndpointName(channel);
  std::ofstream(socket) << "left by a server that died";
  std::ofstream(socket.string().substr(0, socket.string().size() - 5) + ".lock");
  EXPECT_FALSE(Send(u"x").ok);
  platform::System* system = platform::System::Default();
  platform::MutexHandle held = system->CreateMutex(u"Held by a live process", true);
  ASSERT_NE(held, nullptr);
  platform::MutexHandle opened = system->OpenMutex(u"Held by a live process");
  ASSERT_NE(opened, nullptr);
  system->CloseMutex(opened);  // not the last: the file stays
  auto names = [&] {
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder)) out.insert(entry.path().filename());
    return out;
  };
  Service service(Echo);
  IpcServer* server = Serve(&service);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(Send(u"x").text, u"re: x");
  const std::string base = socket.stem().string();
  const fs::path mutex = platform::posix::PrefixScopedPath(u"Held by a live process");
  EXPECT_EQ(names(), (std::set<std::string>{base + ".lock", base + ".sock",
                                            mutex.filename().string() + ".mutex"}));
  // The socket is the user's alone.
  EXPECT_EQ(fs::symlink_status(socket).type(), fs::file_type::socket);
  EXPECT_EQ(fs::symlink_status(socket).permissions(), fs::perms(0600));
  EXPECT_LT(socket.string().size(), 100u);
  StopServing(server);
  system->CloseMutex(held);
  EXPECT_EQ(names(), std::set<std::string>{});
  EXPECT_EQ(system->OpenMutex(u"Held by a live process"), nullptr);
}

TEST_F(Ipc, AnotherPrefixDoesNotReachTheServer) {
  const std::string saved = platform::posix::PrefixDirectory();
  const fs::path base = folder.string() + "-prefixes";
  fs::create_directories(base / "a");
  fs::create_directories(base / "b");
  fs::create_directory_symlink(base / "a", base / "link-to-a");
  platform::posix::SetPrefixDirectory((base / "a").string());
  Service service(Echo);
  ASSERT_NE(Serve(&service), nullptr);
  EXPECT_TRUE(Send(u"x").ok);
  platform::posix::SetPrefixDirectory((base / "b").string());
  EXPECT_FALSE(Send(u"x").ok);
  // Another server may serve the same channel for prefix b.
  Service other(&Echo);
  EXPECT_NE(Serve(&other), nullptr);
  EXPECT_TRUE(Send(u"x").ok);
  // The same prefix reached through a link is the same prefix.
  platform::posix::SetPrefixDirectory((base / "link-to-a").string() + "/");
  EXPECT_TRUE(Send(u"x").ok);
  EXPECT_EQ(service.calls, 2);
  EXPECT_EQ(other.calls, 1);
  platform::posix::SetPrefixDirectory(saved);
  std::error_code ignored;
  fs::remove_all(base, ignored);
}

#endif  // a named pipe lives in no folder; under Wine each prefix has its own server

}  // namespace
