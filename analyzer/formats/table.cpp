// A percentile distribution in the layout that HdrHistogram prints: value,
// percentile, total count at or below the value, and 1/(1-percentile), at
// levels that halve the distance to 100% in steps of five.
#include <cstdio>

#include "formats.hpp"
#include "text.hpp"

namespace varrow_formats {

namespace {

constexpr int ticks_per_half_distance = 5;

std::string line_of(const char *format, auto... values) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, values...);
  return buffer;
}

// The next reporting level after p (0..1): the distance to 1 is split into
// halves, each crossed in ticks_per_half_distance steps.
double next_level(double p) {
  const double halvings = std::floor(std::log2(1 / (1 - p)));
  return p + 1 / (ticks_per_half_distance * std::exp2(halvings + 1));
}

void write_one(const Entry &e, std::string &out) {
  const varrow::Histogram &h = e.histogram;
  const uint64_t total = h.sample_count();
  out += line_of("%12s %14s %10s %14s\n\n", "Value", "Percentile", "TotalCount", "1/(1-Percentile)");
  for (double p = 0; total > 0 && std::ceil(p * double(total)) < double(total); p = next_level(p)) {
    const double value = h.quantile(p);
    out += line_of("%12.6g %2.12f %10llu %14.2f\n", value, p, static_cast<unsigned long long>(h.count_below(value)),
                   1 / (1 - p));
  }
  const double max = total > 0 ? h.quantile(1.0) : NAN;
  if (total > 0) out += line_of("%12.6g %2.12f %10llu\n", max, 1.0, static_cast<unsigned long long>(total));
  out += line_of("#[Mean    = %12.6g, StdDeviation   = %12.6g]\n", h.mean(), h.stddev());
  out += line_of("#[Max     = %12.6g, Total count    = %12llu]\n", max, static_cast<unsigned long long>(total));
  out += line_of("#[Buckets = %12zu]\n", h.bucket_count());
}

}  // namespace

void write_table(const Entries &entries, std::string &out) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) out += '\n';
    const Entry &e = entries[i];
    if (entries.size() > 1 || !e.key.empty() || std::isfinite(e.time)) {
      out += "#[Histogram " + std::to_string(i + 1);
      if (!e.key.empty()) out += ": " + e.key;
      if (std::isfinite(e.time)) out += " at " + format_double(e.time);
      out += "]\n";
    }
    write_one(e, out);
  }
}

}  // namespace varrow_formats
