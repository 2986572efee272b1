// MQTT codec: building and decoding small PUBLISH packets, and TCP reassembly over small and large chunks.
#include <benchmark/benchmark.h>

#include <string>

#include "common/TbrzMemoryStream.h"
#include "mqtt/TbrzWSMQTTMessage.h"

namespace {

using brz::TbrzMemoryStream;
using brz::TbrzWSMQTTMessage;
using brz::TBytes;
using brz::TmqttQoS;
using brz::TwsMQTTVersion;

const std::string Topic = "sensors/kitchen/temperature";
const std::string Payload = "{\"value\": 21.5, \"unit\": \"C\"}";

TwsMQTTVersion VersionOf(const benchmark::State& state) {
  return state.range(0) == 5 ? TwsMQTTVersion::mqtt5 : TwsMQTTVersion::mqtt311;
}

void BM_BuildPublishQoS1(benchmark::State& state) {
  TbrzWSMQTTMessage message;
  message.SetMQTTVersion(VersionOf(state));
  uint16_t identifier = 0;
  for (auto _ : state) {
    TBytes packet = message.DoPublish(++identifier, Topic, Payload, TmqttQoS::mtqsAtLeastOnce, false, false);
    benchmark::DoNotOptimize(packet.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildPublishQoS1)->Arg(4)->Arg(5);

void BM_DecodePublishQoS1(benchmark::State& state) {
  TbrzWSMQTTMessage builder, message;
  builder.SetMQTTVersion(VersionOf(state));
  message.SetMQTTVersion(VersionOf(state));
  TbrzMemoryStream stream(builder.DoPublish(7, Topic, Payload, TmqttQoS::mtqsAtLeastOnce, false, false));
  for (auto _ : state) {
    stream.SetPosition(0);
    message.Read(stream);
    benchmark::DoNotOptimize(message.PUBLISH().Text().data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.Size()));
}
BENCHMARK(BM_DecodePublishQoS1)->Arg(4)->Arg(5);

// A byte stream of many small PUBLISH packets, fed to ReadTCP in chunks of range(0) bytes.
void BM_ReassembleTCP(benchmark::State& state) {
  TbrzWSMQTTMessage builder;
  TBytes wire;
  for (int i = 0; i < 256; ++i) {
    TBytes packet = builder.DoPublish(static_cast<uint16_t>(i + 1), Topic, Payload, TmqttQoS::mtqsAtLeastOnce, false,
                                      false);
    wire.insert(wire.end(), packet.begin(), packet.end());
  }
  const auto chunk = static_cast<size_t>(state.range(0));
  int64_t packets = 0;
  for (auto _ : state) {
    TbrzWSMQTTMessage message;
    for (size_t offset = 0; offset < wire.size(); offset += chunk) {
      size_t end = std::min(wire.size(), offset + chunk);
      TbrzMemoryStream stream(TBytes(wire.begin() + static_cast<long>(offset), wire.begin() + static_cast<long>(end)));
      while (stream.Size() > 0 && message.ReadTCP(stream)) ++packets;
    }
  }
  benchmark::DoNotOptimize(packets);
  state.SetItemsProcessed(packets);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(wire.size()));
}
BENCHMARK(BM_ReassembleTCP)->Arg(1)->Arg(4096);

}  // namespace
