// Runs one warm-up "stage" round trip and then the number of round trips
// given as the first argument, for counting instructions under callgrind.
// The difference between a run with N and a run with 0 divided by N is the
// cost of one round trip, free of start-up and first-use costs.

#include <cstdio>
#include <cstdlib>

#include "bench/channel_round_trip.h"

int main(int argc, char** argv) {
  long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
  bench::ChannelRoundTrip round_trip;
  if (round_trip.RunStage() == 0) {
    std::fprintf(stderr, "the stage call was not answered\n");
    return 1;
  }
  size_t total = 0;
  for (long i = 0; i < count; ++i) total += round_trip.RunStage();
  return total == static_cast<size_t>(count) * round_trip.RunStage() ? 0 : 1;
}
