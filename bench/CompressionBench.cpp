// Compress and decompress throughput of permessage-deflate for small and large messages, with and
// without context takeover (priming each message's stream with up to 64 KiB of history).

#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "websocket/TbrzWSExtensions.h"

namespace {

using namespace brz;

// JSON-like text, compressible as real MQTT payloads are.
TBytes Message(size_t aSize) {
  std::mt19937 random(5);
  std::string text;
  while (text.size() < aSize)
    text += "{\"topic\":\"sensors/" + std::to_string(random() % 50) + "\",\"value\":" + std::to_string(random() % 1000) + "}";
  text.resize(aSize);
  return TBytes(text.begin(), text.end());
}

TbrzWSExtensions Side(TwsApplicationMode aMode, bool aContextTakeOver) {
  TbrzWSExtensions e;
  e.SetMode(aMode);
  e.PerMessage_Deflate().SetEnabled(true);
  e.DecodeExtensions(aContextTakeOver ? "permessage-deflate"
                                      : "permessage-deflate; client_no_context_takeover; server_no_context_takeover");
  return e;
}

void BM_Compress(benchmark::State& state) {
  const TBytes plain = Message(static_cast<size_t>(state.range(0)));
  auto client = Side(TwsApplicationMode::appClient, state.range(1) != 0);
  for (auto _ : state) {
    TBytes data = plain;
    client.WriteStream(data);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Decompress(benchmark::State& state) {
  const TBytes plain = Message(static_cast<size_t>(state.range(0)));
  const bool context = state.range(1) != 0;
  // The same message again and again, as one sender would produce it after a warm-up.
  auto client = Side(TwsApplicationMode::appClient, context);
  auto server = Side(TwsApplicationMode::appServer, context);
  TBytes wire = plain;
  client.WriteStream(wire);
  TBytes first = wire;
  server.DecodeHeader(0xC2);
  server.ReadStream(first);
  wire = plain;
  client.WriteStream(wire);
  for (auto _ : state) {
    // With context takeover the receive history after each message matches the sender's again, since
    // every message is the same plain text.
    TBytes data = wire;
    server.ReadStream(data);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Arguments: message size, context takeover (1) or not (0).
BENCHMARK(BM_Compress)->ArgsProduct({{1024, 1 << 20}, {1, 0}});
BENCHMARK(BM_Decompress)->ArgsProduct({{1024, 1 << 20}, {1, 0}});

}  // namespace

BENCHMARK_MAIN();
