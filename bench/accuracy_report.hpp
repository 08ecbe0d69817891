// The main of the distribution benchmarks that write an accuracy table
// beside their timings (--accuracy_out=FILE names the table, standard output
// by default), and the registration of their timings over reference points.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <cstdint>
#include <string>
#include <vector>

// Removes --accuracy_out=FILE from the arguments and returns FILE.
inline std::string take_accuracy_out(int &argc, char **argv) {
  constexpr const char *flag = "--accuracy_out=";
  std::string path;
  int kept = 0;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) {
      path = argv[i] + std::strlen(flag);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  return path;
}

// Writes the CSV header and measure(out)'s rows to the accuracy table, then
// registers and runs the benchmarks; returns the exit status.
template <typename Measure, typename Register>
int run_with_accuracy_report(int argc, char **argv, const char *csv_header, Measure &&measure,
                             Register &&register_benchmarks) {
  const std::string accuracy_path = take_accuracy_out(argc, argv);
  benchmark::Initialize(&argc, argv);
  FILE *out = accuracy_path.empty() ? stdout : std::fopen(accuracy_path.c_str(), "w");
  if (!out) {
    std::perror(accuracy_path.c_str());
    return 1;
  }
  std::fprintf(out, "%s\n", csv_header);
  measure(out);
  if (out != stdout) std::fclose(out);
  register_benchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// Registers a benchmark that calls call(point) for every point once per
// iteration and counts one item per call.
template <typename Point, typename Call>
void register_over_points(const std::string &name, const std::vector<Point> *points, Call call) {
  benchmark::RegisterBenchmark(name.c_str(), [points, call](benchmark::State &state) {
    for (auto _ : state)
      for (const Point &pt : *points) benchmark::DoNotOptimize(call(pt));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points->size()));
  });
}
