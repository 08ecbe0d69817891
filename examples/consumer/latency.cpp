// Record request latencies in two histograms (say, two servers), merge them,
// and print percentiles and the base64 text of the merged histogram.
#include <cstdio>
#include <vector>

#include <varrow.hpp>

static void record(varrow::Histogram &h, double first_ms, int n) {
  for (int i = 0; i < n; ++i) h.insert((first_ms + 0.37 * i) / 1000.0);
}

int main() {
  varrow::Histogram server_a(varrow::Histogram::Kind::fast);
  varrow::Histogram server_b(varrow::Histogram::Kind::fast);
  record(server_a, 2.0, 900);
  record(server_b, 40.0, 100);

  varrow::Histogram both;
  both += server_a;
  both += server_b;

  const std::vector<double> q = {0.5, 0.9, 0.99};
  const std::vector<double> seconds = both.quantiles(q);
  for (size_t i = 0; i < q.size(); ++i) std::printf("p%g: %g s\n", q[i] * 100, seconds[i]);
  std::printf("count: %llu\n", static_cast<unsigned long long>(both.sample_count()));
  std::printf("%s\n", both.to_base64().c_str());
}
