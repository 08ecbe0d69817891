// Times a quantile solver over reference points and reports its speed and
// its accuracy against the points' exact quantiles, for the benchmarks of the
// quantile functions and of the front ends.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

// Runs solve over every point (which holds its exact `quantile`) once per
// iteration.  Sets ns_per_call, and median_err and max_err: the error in
// units of 2^-52, relative (absolute where the exact quantile is 0), a NaN
// result counting as infinitely wrong.  Returns the number of solves.
template <typename Point, typename Solve>
long time_quantiles(benchmark::State &state, const std::vector<Point> &points, Solve &&solve) {
  std::vector<double> results(points.size());
  long solves = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < points.size(); ++i) results[i] = solve(points[i]);
    benchmark::DoNotOptimize(results.data());
    solves += static_cast<long>(points.size());
  }
  std::vector<double> errors;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double exact = points[i].quantile;
    const double error = exact == 0.0 ? std::fabs(results[i]) : std::fabs(results[i] - exact) / std::fabs(exact);
    errors.push_back(std::isnan(error) ? std::numeric_limits<double>::infinity() : error / 0x1p-52);
  }
  std::sort(errors.begin(), errors.end());
  state.counters["ns_per_call"] =
      benchmark::Counter(static_cast<double>(solves) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["max_err"] = errors.empty() ? 0.0 : errors.back();
  state.counters["median_err"] = errors.empty() ? 0.0 : errors[errors.size() / 2];
  return solves;
}
