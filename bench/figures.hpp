// The figures a benchmark program prints once all its benchmarks have run:
// each measured time beside the floor measured in the same run (what the
// same work costs at the least) and the goal it is held to. Printed, never
// asserted: a slow machine makes both figures slow alike, so the ratio is the
// figure that carries from one machine to another.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vtsd::bench {

struct Figure {
  std::string name;
  double seconds = 0;        // the driver's time for the work
  double floor_seconds = 0;  // the floor's time for the same work
  std::string floor_is;      // what the floor measures
  std::string goal;
  double items = 0;          // records or articles the work handles (0: no rate)
};

inline std::vector<Figure>& Figures() {
  static std::vector<Figure> figures;
  return figures;
}

inline void RecordFigure(Figure figure) { Figures().push_back(std::move(figure)); }

inline void PrintFigures() {
  if (Figures().empty()) return;
  std::printf("\nfigures of this run (time, floor, ratio, goal)\n");
  for (const Figure& f : Figures()) {
    std::printf("  %s: %.3f s", f.name.c_str(), f.seconds);
    if (f.items > 0 && f.seconds > 0) std::printf(" (%.0f per second)", f.items / f.seconds);
    if (f.floor_seconds > 0) {
      std::printf("; floor %.3f s (%s); %.2fx the floor", f.floor_seconds, f.floor_is.c_str(),
                  f.seconds / f.floor_seconds);
    }
    std::printf("; goal: %s\n", f.goal.c_str());
  }
  std::fflush(stdout);
}

}  // namespace vtsd::bench

// The main of a benchmark program that prints its figures at the end.
#define VTSD_BENCHMARK_MAIN_WITH_FIGURES()                          \
  int main(int argc, char** argv) {                                 \
    ::benchmark::Initialize(&argc, argv);                           \
    if (::benchmark::ReportUnrecognizedArguments(argc, argv)) return 1; \
    ::benchmark::RunSpecifiedBenchmarks();                          \
    ::benchmark::Shutdown();                                        \
    ::vtsd::bench::PrintFigures();                                  \
    return 0;                                                       \
  }
