#include "ipc/ipc_server.h"

#include <chrono>
#include <condition_variable>
#include <vector>

#include "ipc/frame.h"
#include "ipc/timing.h"

namespace ipc {
namespace {

using platform::IpcConnection;
using platform::IpcIo;
using Text = std::basic_string<IpcChar>;

// What the handler said through IpcSetReply.
struct ReplySlot {
  Text text;
  bool tooLarge = false;
};

void IPC_CALL SetReply(void* handle, const IpcChar* text, unsigned bytes) {
  auto* slot = static_cast<ReplySlot*>(handle);
  slot->tooLarge = bytes > IPC_MAX_MESSAGE_BYTES;
  if (slot->tooLarge || text == nullptr) {
    slot->text.clear();
  } else {
    slot->text.assign(text, bytes / 2);
  }
}

// The request frame, which must arrive whole within limitMs.
bool ReadRequest(IpcConnection& connection, uint32_t limitMs, Text* request) {
  const auto start = std::chrono::steady_clock::now();
  unsigned char head[kFrameHeaderBytes];
  FrameHeader header;
  if (connection.Read(head, sizeof(head), limitMs) != IpcIo::kOk) return false;
  if (!DecodeFrameHeader(head, &header) || header.type != FrameType::kRequest) return false;
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
  const uint32_t left = spent >= limitMs ? 0 : limitMs - static_cast<uint32_t>(spent);
  std::vector<unsigned char> payload(header.length);
  if (header.length > 0 && connection.Read(payload.data(), header.length, left) != IpcIo::kOk)
    return false;
  request->assign(header.length / 2, IpcChar(0));
  DecodeText(payload.data(), payload.size(), request->data());
  return true;
}

}  // namespace

Server::Server(std::u16string channel, IpcRequestHandler handler, void* context)
    : channel_(std::move(channel)), handler_(handler), context_(context) {}

Server::~Server() { Stop(); }

bool Server::Start(std::string* error) {
  listener_ = platform::IpcListen(channel_, error);
  if (listener_ == nullptr) return false;
  acceptor_ = std::thread(&Server::AcceptLoop, this);
  return true;
}

void Server::Stop() {
  if (listener_ == nullptr) return;
  listener_->Close();
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (Worker& worker : workers_)
      if (worker.connection != nullptr) worker.connection->Shutdown();
  }
  // Workers take mutex_ to say they are done, so join without it.
  for (Worker& worker : workers_) worker.thread.join();
  workers_.clear();
  listener_.reset();
}

void Server::JoinFinishedLocked() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done) {
      it->thread.join();  // it only has to leave Serve
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::AcceptLoop() {
  while (std::unique_ptr<IpcConnection> connection = listener_->Accept()) {
    std::lock_guard<std::mutex> lock(mutex_);
    JoinFinishedLocked();
    if (stopping_) break;
    workers_.emplace_back();
    Worker& worker = workers_.back();
    worker.connection = std::move(connection);
    try {
      worker.thread = std::thread(&Server::Serve, this, &worker);
    } catch (...) {  // no thread to spare: this client is refused
      workers_.pop_back();
    }
  }
}

void Server::Serve(Worker* worker) {
  IpcConnection& connection = *worker->connection;
  const Timing timing = CurrentTiming();
  try {
    Text request;
    Text reply;
    if (ReadRequest(connection, timing.requestMs, &request) &&
        Answer(connection, request, &reply)) {
      const std::string frame = EncodeFrame(FrameType::kReply, reply.data(), reply.size());
      if (connection.Write(frame.data(), frame.size(), timing.requestMs) == IpcIo::kOk) {
        // Let the client hang up first, so that closing our end cannot cost
        // it a reply it has not read yet.
        char byte;
        connection.Read(&byte, 1, timing.requestMs);
      }
    }
  } catch (...) {  // out of memory: this request goes unanswered
  }
  // Hang up now; the record goes with the next accept or with Stop.
  std::lock_guard<std::mutex> lock(mutex_);
  worker->connection.reset();
  worker->done = true;
}

bool Server::Answer(IpcConnection& connection, const Text& request, Text* reply) {
  const Timing timing = CurrentTiming();
  std::mutex mutex;
  std::condition_variable changed;
  bool finished = false;
  bool streamBroken = false;
  // Keep-alives while the handler runs: the client counts silence, not time.
  std::thread pulse([&] {
    const std::string frame = EncodeFrame(FrameType::kKeepAlive, nullptr, 0);
    std::unique_lock<std::mutex> lock(mutex);
    while (!changed.wait_for(lock, std::chrono::milliseconds(timing.keepAliveMs),
                             [&] { return finished; })) {
      lock.unlock();
      const IpcIo written = connection.Write(frame.data(), frame.size(), timing.requestMs);
      lock.lock();
      if (written != IpcIo::kOk) {
        streamBroken = true;  // perhaps mid-frame: nothing more may follow
        return;
      }
    }
  });
  ReplySlot slot;
  int answered = 0;
  try {
    answered = handler_(context_, request.c_str(), static_cast<unsigned>(request.size() * 2),
                        &SetReply, &slot);
  } catch (...) {  // a handler's exception ends its request, not the server
    answered = 0;
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
  }
  changed.notify_all();
  pulse.join();
  if (answered == 0 || slot.tooLarge || streamBroken) return false;
  *reply = std::move(slot.text);
  return true;
}

}  // namespace ipc
