// The formats that histconv, the Python module and the fuzzers read and
// write: one reader and one writer per format.  A reader takes one whole
// input and either returns every histogram in it or throws FormatError
// naming the line or field at fault, so that a bad input yields nothing.
#pragma once

#include <cmath>
#include <compare>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "varrow.h"
#include "varrow.hpp"

namespace varrow_formats {

// A problem with an input: where (a line number or a field path) and what.
class FormatError : public std::runtime_error {
 public:
  explicit FormatError(const std::string &what) : std::runtime_error(what) {}
};
[[noreturn]] void fail_at_line(std::size_t line, const std::string &what);
[[noreturn]] void fail_at_field(const std::string &field, const std::string &what);

struct Label {
  std::string name;
  std::string value;
  friend auto operator<=>(const Label &, const Label &) = default;
};

// One histogram read, with what names it in its source.
struct Entry {
  std::string key;            // series name and labels, data point name and attributes, or an hlog tag
  std::string metric;         // the metric name, where the source has one
  std::vector<Label> labels;  // the series' labels or the data point's attributes
  double time = NAN;          // seconds: an interval's start, a data point's time
  varrow::Histogram histogram;
};
using Entries = std::vector<Entry>;

// ---- Readers ----
Entries read_b64(std::string_view text);
Entries read_prometheus(std::string_view text);
Entries read_otlp(std::string_view text);
// Encoded HdrHistograms, one per line, or an interval log; unit is the
// value of one recorded integer.
Entries read_hdr(std::string_view text, double unit);
// lower,upper,count lines through the ad-hoc approximation: one histogram.
Entries read_bins(std::string_view text, int mode);

// Whether this build reads HdrHistogram's compressed form (it needs zlib).
bool hdr_compression_supported();

// ---- Writers ----
void write_b64(const Entries &entries, std::string &out);
void write_json(const Entries &entries, std::string &out);

struct PrometheusOptions {
  std::string name;
  std::vector<double> bounds;  // empty: the client libraries' defaults
  std::vector<Label> labels;   // added to every series
};
void write_prometheus(const Entries &entries, const PrometheusOptions &options, std::string &out);

struct OtlpOptions {
  std::optional<int> scale;  // none: the finest that keeps each side within default_otlp_buckets
  std::string name = "histogram";
};
// The OpenTelemetry SDKs' default bucket limit for exponential histograms.
inline constexpr uint64_t default_otlp_buckets = 160;
// The most buckets a side may take at a scale that the user chose.
inline constexpr uint64_t max_otlp_buckets = uint64_t{1} << 20;
void write_otlp(const Entries &entries, const OtlpOptions &options, std::string &out);

void write_table(const Entries &entries, std::string &out);
void write_svg(const Entries &entries, std::string &out);

// ---- Pieces that the command line shares ----
// The client libraries' default bounds, .005 to 10.
const std::vector<double> &default_prometheus_bounds();
// Comma-separated ascending finite numbers (the --le list).
std::vector<double> parse_bound_list(std::string_view text);
// k="v",... as in the exposition format (the --labels list).
std::vector<Label> parse_label_list(std::string_view text);
// Whether text is a valid Prometheus metric name.
bool is_metric_name(std::string_view text);

}  // namespace varrow_formats
