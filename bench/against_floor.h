// Times our work and its floor in the same run: each iteration runs both,
// and the benchmark reports our time, the floor's time and their ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdint>

namespace bench {

// The calling thread's processor time: the work never waits (image files
// come from the page cache), and other builds on the machine then cost it
// nothing while they hold the processor.
inline double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <typename Work>
double SecondsOf(Work& work) {
  const double start = ThreadSeconds();
  work();
  return ThreadSeconds() - start;
}

// Each iteration times ours and the floor once; between runs untimed after
// both (to forget the testbed's records). The order alternates so neither side always finds the caches warmed by
// the other. The benchmark's own time is ours (UseManualTime).
template <typename Ours, typename Floor, typename Between>
void RunAgainstFloor(benchmark::State& state, uint64_t bytes, Ours ours, Floor floor, Between between) {
  double oursSeconds = 0;
  double floorSeconds = 0;
  bool floorFirst = false;
  for (auto _ : state) {
    double o, f;
    if (floorFirst) {
      f = SecondsOf(floor);
      o = SecondsOf(ours);
    } else {
      o = SecondsOf(ours);
      f = SecondsOf(floor);
    }
    floorFirst = !floorFirst;
    between();
    oursSeconds += o;
    floorSeconds += f;
    state.SetIterationTime(o);
  }
  const double n = static_cast<double>(state.iterations());
  if (n == 0 || floorSeconds <= 0) return;
  state.counters["ours_ms"] = oursSeconds * 1e3 / n;
  state.counters["floor_ms"] = floorSeconds * 1e3 / n;
  state.counters["ratio"] = oursSeconds / floorSeconds;
  state.counters["ours_ns_per_byte"] = bytes ? oursSeconds * 1e9 / n / static_cast<double>(bytes) : 0;
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}

template <typename Ours, typename Floor>
void RunAgainstFloor(benchmark::State& state, uint64_t bytes, Ours ours, Floor floor) {
  RunAgainstFloor(state, bytes, ours, floor, [] {});
}

}  // namespace bench
