// Cost of one exchange on a channel: the module sends a progress request
// every 500 ms during a delegated run, each on a connection of its own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ipc/ipc_api.h"

namespace {

using Text = std::basic_string<IpcChar>;

Text ToIpc(std::u16string_view text) { return Text(text.begin(), text.end()); }

// Answers with as many characters as the request asks for in its length.
int IPC_CALL Answer(void* context, const IpcChar*, unsigned requestBytes, IpcSetReply setReply,
                    void* replyHandle) {
  const auto* reply = static_cast<const Text*>(context);
  setReply(replyHandle, reply->data(),
           static_cast<unsigned>(std::min<size_t>(reply->size(), requestBytes) * 2));
  return 1;
}

void BM_RoundTrip(benchmark::State& state) {
  const size_t chars = static_cast<size_t>(state.range(0));
  const Text channel = ToIpc(u"ipc-bench-round-trip");
  const Text reply(chars, IpcChar(u'r'));
  IpcServer* server = CreateServerInstance(channel.c_str(), &Answer, const_cast<Text*>(&reply));
  IpcClient* client = CreateClientInstance();
  if (server == nullptr || client == nullptr) {
    state.SkipWithError("channel not served");
    return;
  }
  const Text request(chars, IpcChar(u'q'));
  std::vector<IpcChar> buffer(chars + 1);
  for (auto _ : state) {
    unsigned bytes = static_cast<unsigned>(buffer.size() * 2);
    if (!client->Send(channel.c_str(), request.data(), static_cast<unsigned>(chars * 2),
                      buffer.data(), &bytes, -1)) {
      state.SkipWithError("send failed");
      break;
    }
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(chars) *
                          4);
  DestroyClientInstance(client);
  DestroyServerInstance(server);
}
// A progress request's size, the module's full reply buffer, a large text.
BENCHMARK(BM_RoundTrip)->Arg(64)->Arg(4096)->Arg(256 * 1024)->UseRealTime();

}  // namespace
