// The local byte streams the IPC library carries its frames on. A channel
// name (UTF-16, compared without regard to ASCII case) names one endpoint per
// user and machine: on POSIX a Unix-domain socket in a private folder, scoped
// to the Wine prefix; on Windows a named pipe open to the user and the
// Administrators group. Only peers of the same user (or root/administrators)
// get through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

enum class IpcIo {
  kOk,       // every byte moved
  kTimeout,  // the time limit passed first
  kClosed,   // the peer closed the stream, or Shutdown was called
  kError,    // any other failure
};

// One connected stream. Read and Write may run at the same time on two
// threads; Shutdown may be called from any thread.
class IpcConnection {
 public:
  virtual ~IpcConnection() = default;
  // Reads exactly size bytes within timeoutMs in total.
  virtual IpcIo Read(void* data, size_t size, uint32_t timeoutMs) = 0;
  // Writes all size bytes within timeoutMs in total.
  virtual IpcIo Write(const void* data, size_t size, uint32_t timeoutMs) = 0;
  // Ends both directions: pending and later Read/Write return kClosed.
  virtual void Shutdown() = 0;
};

// The listening end of a channel; it owns the channel until destroyed.
class IpcListener {
 public:
  virtual ~IpcListener() = default;
  // Waits for the next client that passes the credential check. Null once
  // Close was called, or on a failure of the endpoint.
  virtual std::unique_ptr<IpcConnection> Accept() = 0;
  // Makes a waiting and every later Accept return null. Thread-safe.
  virtual void Close() = 0;
};

// Starts listening on channel. Null when another live listener owns it or the
// endpoint cannot be made safely; *error (when given) then says why.
std::unique_ptr<IpcListener> IpcListen(std::u16string_view channel, std::string* error = nullptr);

// Connects to the listener of channel. Fails at once when nobody listens;
// waits up to timeoutMs while a live listener is too busy to take the call.
// Null when the listener fails the credential check.
std::unique_ptr<IpcConnection> IpcConnect(std::u16string_view channel, uint32_t timeoutMs,
                                          std::string* error = nullptr);

// Where channel lives: the socket's path on POSIX, the pipe's name on Windows.
// Empty when the channel name is empty or the endpoint folder is unusable.
std::string IpcEndpointName(std::u16string_view channel);

// 64-bit FNV-1a of the channel with ASCII letters folded to lower case,
// followed by the scope bytes; endpoints are named after it so that names
// stay short and free of path characters.
uint64_t IpcChannelHash(std::u16string_view channel, std::string_view scope);

}  // namespace platform
