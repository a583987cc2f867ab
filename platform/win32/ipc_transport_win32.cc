// Channels as named pipes "\\.\pipe\regclean-ipc-<user SID>-<hash>". The
// pipe's security descriptor admits only the current user and the
// Administrators group; remote clients are refused. All I/O is overlapped, so
// that every wait has a time limit and Shutdown can end it.
#include "platform/win32/win32.h"
// clang-format off: sddl.h needs windows.h first
#include <sddl.h>
// clang-format on

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/ipc_transport.h"
#include "platform/win32/late_bound.h"

namespace platform {
namespace {

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::string Win32Error(const std::string& what, DWORD code) {
  return what + " failed with error " + std::to_string(code);
}

// The current user's SID as text ("S-1-5-21-..."); empty when unknown.
std::wstring UserSid() {
  static std::once_flag once;
  static std::wstring sid;
  std::call_once(once, [] {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    LPWSTR text = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
      sid = text;
      LocalFree(text);
    }
    CloseHandle(token);
  });
  return sid;
}

std::wstring PipeName(std::u16string_view channel) {
  static const wchar_t kHex[] = L"0123456789abcdef";
  uint64_t hash = IpcChannelHash(channel, "");
  std::wstring digits(16, L'0');
  for (int i = 15; i >= 0; --i, hash >>= 4) digits[static_cast<size_t>(i)] = kHex[hash & 15];
  return L"\\\\.\\pipe\\regclean-ipc-" + UserSid() + L"-" + digits;
}

bool Broken(DWORD code) {
  return code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED || code == ERROR_NO_DATA ||
         code == ERROR_OPERATION_ABORTED;
}

class PipeConnection final : public IpcConnection {
 public:
  explicit PipeConnection(HANDLE pipe)
      : pipe_(pipe),
        readEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        writeEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        shutdown_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~PipeConnection() override {
    CloseHandle(pipe_);
    for (HANDLE event : {readEvent_, writeEvent_, shutdown_})
      if (event != nullptr) CloseHandle(event);
  }

  bool valid() const { return readEvent_ && writeEvent_ && shutdown_; }

  IpcIo Read(void* data, size_t size, uint32_t timeoutMs) override {
    return Transfer(true, static_cast<char*>(data), size, timeoutMs);
  }
  IpcIo Write(const void* data, size_t size, uint32_t timeoutMs) override {
    return Transfer(false, const_cast<char*>(static_cast<const char*>(data)), size, timeoutMs);
  }
  void Shutdown() override {
    SetEvent(shutdown_);
    // Where only CancelIo exists this cancels nothing of another thread's;
    // the event set above still ends that thread's wait.
    CancelFileIo(pipe_, nullptr);
  }

 private:
  IpcIo Transfer(bool reading, char* at, size_t size, uint32_t timeoutMs) {
    const ULONGLONG deadline = TickCount64() + timeoutMs;
    HANDLE event = reading ? readEvent_ : writeEvent_;
    while (size > 0) {
      if (WaitForSingleObject(shutdown_, 0) == WAIT_OBJECT_0) return IpcIo::kClosed;
      const ULONGLONG now = TickCount64();
      if (now >= deadline && timeoutMs > 0) return IpcIo::kTimeout;
      OVERLAPPED overlapped{};
      overlapped.hEvent = event;
      ResetEvent(event);
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 20));
      const BOOL started = reading ? ReadFile(pipe_, at, chunk, nullptr, &overlapped)
                                   : WriteFile(pipe_, at, chunk, nullptr, &overlapped);
      if (!started) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) return Broken(code) ? IpcIo::kClosed : IpcIo::kError;
        HANDLE waits[2] = {event, shutdown_};
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, left);
        if (woke != WAIT_OBJECT_0) {
          // Take the operation back before its buffer goes away.
          DWORD ignored = 0;
          CancelFileIo(pipe_, &overlapped);
          GetOverlappedResult(pipe_, &overlapped, &ignored, TRUE);
          return woke == WAIT_OBJECT_0 + 1 ? IpcIo::kClosed : IpcIo::kTimeout;
        }
      }
      DWORD done = 0;
      if (!GetOverlappedResult(pipe_, &overlapped, &done, FALSE)) {
        const DWORD code = GetLastError();
        return Broken(code) ? IpcIo::kClosed : IpcIo::kError;
      }
      at += done;
      size -= done;
    }
    return IpcIo::kOk;
  }

  const HANDLE pipe_;
  const HANDLE readEvent_;
  const HANDLE writeEvent_;
  const HANDLE shutdown_;
};

class PipeListener final : public IpcListener {
 public:
  PipeListener(std::wstring name, PSECURITY_DESCRIPTOR descriptor, HANDLE first, HANDLE connected,
               HANDLE stop)
      : name_(std::move(name)),
        descriptor_(descriptor),
        pending_(first),
        connected_(connected),
        stop_(stop) {}
  ~PipeListener() override {
    if (pending_ != INVALID_HANDLE_VALUE) CloseHandle(pending_);
    CloseHandle(connected_);
    CloseHandle(stop_);
    LocalFree(descriptor_);
  }

  static HANDLE CreateInstance(const std::wstring& name, PSECURITY_DESCRIPTOR descriptor,
                               bool first) {
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    const DWORD openMode =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    const DWORD pipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;
    HANDLE pipe = CreateNamedPipeW(name.c_str(), openMode, pipeMode | PIPE_REJECT_REMOTE_CLIENTS,
                                   PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, &attributes);
    // Windows XP and Server 2003 refuse PIPE_REJECT_REMOTE_CLIENTS as an
    // unknown mode; there the descriptor's entry denying network logons keeps
    // remote clients out.
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
      pipe = CreateNamedPipeW(name.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES, 65536,
                              65536, 0, &attributes);
    return pipe;
  }

  std::unique_ptr<IpcConnection> Accept() override {
    for (;;) {
      if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) return nullptr;
      if (pending_ == INVALID_HANDLE_VALUE) {
        pending_ = CreateInstance(name_, descriptor_, false);
        if (pending_ == INVALID_HANDLE_VALUE) return nullptr;
      }
      OVERLAPPED overlapped{};
      overlapped.hEvent = connected_;
      ResetEvent(connected_);
      bool connected = ConnectNamedPipe(pending_, &overlapped) != 0;
      if (!connected) {
        const DWORD code = GetLastError();
        if (code == ERROR_PIPE_CONNECTED) {
          connected = true;
        } else if (code == ERROR_IO_PENDING) {
          HANDLE waits[2] = {connected_, stop_};
          const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
          DWORD ignored = 0;
          if (woke != WAIT_OBJECT_0) {
            CancelFileIo(pending_, &overlapped);
            GetOverlappedResult(pending_, &overlapped, &ignored, TRUE);
            return nullptr;
          }
          connected = GetOverlappedResult(pending_, &overlapped, &ignored, FALSE) != 0;
        }
        if (!connected) {
          // The client left before we took it (ERROR_NO_DATA) or the instance
          // failed: start over with this instance.
          DisconnectNamedPipe(pending_);
          continue;
        }
      }
      auto connection = std::make_unique<PipeConnection>(pending_);
      // Have the next instance ready at once, so that a client meets a busy
      // pipe (and waits) rather than no pipe.
      pending_ = CreateInstance(name_, descriptor_, false);
      if (!connection->valid()) continue;
      return connection;
    }
  }

  void Close() override { SetEvent(stop_); }

 private:
  const std::wstring name_;
  const PSECURITY_DESCRIPTOR descriptor_;
  HANDLE pending_;
  const HANDLE connected_;
  const HANDLE stop_;
};

}  // namespace

std::string IpcEndpointName(std::u16string_view channel) {
  if (channel.empty()) return {};
  const std::wstring name = PipeName(channel);
  return std::string(name.begin(), name.end());  // ASCII only
}

std::unique_ptr<IpcListener> IpcListen(std::u16string_view channel, std::string* error) {
  if (channel.empty()) {
    SetError(error, "empty channel name");
    return nullptr;
  }
  const std::wstring sid = UserSid();
  if (sid.empty()) {
    SetError(error, "the current user's SID is unknown");
    return nullptr;
  }
  // Protected DACL: network logons denied; full access for this user and for
  // Administrators only.
  const std::wstring sddl = L"D:P(D;;GA;;;NU)(A;;GA;;;" + sid + L")(A;;GA;;;BA)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    SetError(error,
             Win32Error("ConvertStringSecurityDescriptorToSecurityDescriptor", GetLastError()));
    return nullptr;
  }
  const std::wstring name = PipeName(channel);
  // FILE_FLAG_FIRST_PIPE_INSTANCE refuses a channel that is served already;
  // Wine ignores that flag, so ask first whether any instance exists (this
  // connects to nothing). The flag still closes the race on Windows.
  if (WaitNamedPipeW(name.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
    LocalFree(descriptor);
    SetError(error, "another listener serves this channel");
    return nullptr;
  }
  HANDLE first = PipeListener::CreateInstance(name, descriptor, true);
  if (first == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    LocalFree(descriptor);
    SetError(error, code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY
                        ? "another listener serves this channel"
                        : Win32Error("CreateNamedPipe", code));
    return nullptr;
  }
  HANDLE connected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (connected == nullptr || stop == nullptr) {
    SetError(error, Win32Error("CreateEvent", GetLastError()));
    if (connected != nullptr) CloseHandle(connected);
    if (stop != nullptr) CloseHandle(stop);
    CloseHandle(first);
    LocalFree(descriptor);
    return nullptr;
  }
  return std::make_unique<PipeListener>(name, descriptor, first, connected, stop);
}

std::unique_ptr<IpcConnection> IpcConnect(std::u16string_view channel, uint32_t timeoutMs,
                                          std::string* error) {
  if (channel.empty()) {
    SetError(error, "empty channel name");
    return nullptr;
  }
  const std::wstring name = PipeName(channel);
  const ULONGLONG deadline = TickCount64() + timeoutMs;
  for (;;) {
    // SECURITY_IDENTIFICATION: the listener may learn who we are, not act as us.
    HANDLE pipe = CreateFileW(
        name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      auto connection = std::make_unique<PipeConnection>(pipe);
      if (!connection->valid()) {
        SetError(error, Win32Error("CreateEvent", GetLastError()));
        return nullptr;
      }
      return connection;
    }
    const DWORD code = GetLastError();
    const ULONGLONG now = TickCount64();
    // Busy: every instance is taken; the listener makes a new one shortly.
    if (code != ERROR_PIPE_BUSY || now >= deadline) {
      SetError(error, Win32Error("CreateFile", code));
      return nullptr;
    }
    WaitNamedPipeW(name.c_str(), static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 1000)));
  }
}

}  // namespace platform
