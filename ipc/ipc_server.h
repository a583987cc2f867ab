// The server behind CreateServerInstance: a thread that accepts connections
// and a worker thread per connection that reads one request, runs the handler
// (sending keep-alives meanwhile) and writes the reply.
#pragma once

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ipc/ipc_api.h"
#include "platform/ipc_transport.h"

namespace ipc {

class Server {
 public:
  Server(std::u16string channel, IpcRequestHandler handler, void* context);
  // Stops first when still running.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Starts listening. False (and *error when given) when the channel cannot be
  // served.
  bool Start(std::string* error = nullptr);
  // Stops accepting, ends connections that wait on their peer, and waits for
  // every handler to return.
  void Stop();

 private:
  struct Worker {
    std::unique_ptr<platform::IpcConnection> connection;  // under mutex_; null once served
    std::thread thread;
    bool done = false;  // under mutex_
  };

  void AcceptLoop();
  void Serve(Worker* worker);
  // Answers one request; false when no reply is to be sent.
  bool Answer(platform::IpcConnection& connection, const std::basic_string<IpcChar>& request,
              std::basic_string<IpcChar>* reply);
  void JoinFinishedLocked();

  const std::u16string channel_;
  const IpcRequestHandler handler_;
  void* const context_;
  std::unique_ptr<platform::IpcListener> listener_;
  std::thread acceptor_;
  std::mutex mutex_;
  std::list<Worker> workers_;
  bool stopping_ = false;
};

}  // namespace ipc
