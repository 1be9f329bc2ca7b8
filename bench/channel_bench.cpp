// Nanoseconds per method-channel round trip on the host: the message goes in
// through the messenger and the method channel, the handler answers at once,
// and the reply bytes come back out to the engine.

#include <benchmark/benchmark.h>

#include <cstddef>

#include "bench/channel_round_trip.h"

namespace bench {
namespace {

void StageRoundTrip(benchmark::State& state) {
  ChannelRoundTrip round_trip;
  size_t reply_size = round_trip.RunStage();
  if (reply_size == 0) {
    state.SkipWithError("the stage call was not answered");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(round_trip.RunStage());
}
BENCHMARK(StageRoundTrip)->Name("channel/stage_round_trip/ours");

void BusyRoundTrip(benchmark::State& state) {
  ChannelRoundTrip round_trip;
  size_t reply_size = round_trip.RunConnect();
  if (reply_size == 0) {
    state.SkipWithError("the connect call was not answered");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(round_trip.RunConnect());
}
BENCHMARK(BusyRoundTrip)->Name("channel/connect_busy_round_trip/ours");

}  // namespace
}  // namespace bench

BENCHMARK_MAIN();
