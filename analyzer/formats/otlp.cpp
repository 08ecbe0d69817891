// OTLP/JSON, the protobuf JSON mapping that the OpenTelemetry SDKs' JSON
// exporters and the Collector's file exporter write: exponential and
// explicit-bucket histogram data points in, exponential ones out.
#include <algorithm>
#include <limits>

#include "formats.hpp"
#include "json.hpp"
#include "text.hpp"

namespace varrow_formats {

namespace {

using Kind = JsonValue::Kind;
constexpr double nanoseconds_per_second = 1e9;
// The JSON mapping's delta temporality: each data point is one interval.
constexpr int delta_temporality = 1;

// A field and its path for the messages.
struct Field {
  const JsonValue *value;
  std::string path;

  bool present() const { return value != nullptr && value->kind != Kind::null; }
  [[noreturn]] void fail(const std::string &what) const { fail_at_field(path, what); }
  // The member named in lowerCamelCase or in the proto's snake_case (both parse).
  Field operator()(std::string_view camel, std::string_view snake = {}) const {
    const JsonValue *m = value == nullptr ? nullptr : value->member(camel, snake);
    return {m, path + "." + std::string(camel)};
  }
  Field operator[](std::size_t i) const { return {&value->items[i], path + "[" + std::to_string(i) + "]"}; }
  std::size_t size() const { return present() ? value->items.size() : 0; }

  const std::vector<JsonValue> &array() const {
    static const std::vector<JsonValue> none;
    if (!present()) return none;
    if (value->kind != Kind::array) fail("expected an array");
    return value->items;
  }
  void expect_object() const {
    if (present() && value->kind != Kind::object) fail("expected an object");
  }
  std::string string_or(std::string fallback) const {
    if (!present()) return fallback;
    if (value->kind != Kind::string) fail("expected a string");
    return value->text;
  }
  // 64-bit integers come as strings or numbers.
  std::string_view number_text() const {
    if (value->kind != Kind::number && value->kind != Kind::string) fail("expected a number or a numeric string");
    return value->text;
  }
  uint64_t count_or(uint64_t fallback) const {
    if (!present()) return fallback;
    const std::optional<uint64_t> c = parse_count(number_text());
    if (!c) fail("'" + value->text + "' is not a whole number from 0 to 2^64 - 1");
    return *c;
  }
  int64_t integer_or(int64_t fallback, int64_t lowest, int64_t highest) const {
    if (!present()) return fallback;
    const std::string_view text = number_text();
    std::optional<int64_t> n = parse_integer(text, lowest, highest);
    if (!n) {
      // A whole number written with a fraction or exponent (1.0, 1e1).
      const std::optional<double> d = parse_double(text);
      if (d && std::floor(*d) == *d && *d >= double(lowest) && *d <= double(highest)) n = int64_t(*d);
    }
    if (!n) fail("'" + value->text + "' is not an integer from " + std::to_string(lowest) + " to " + std::to_string(highest));
    return *n;
  }
  double finite_double() const {
    const std::optional<double> d = parse_double(number_text());
    if (!d || !std::isfinite(*d)) fail("'" + value->text + "' is not a finite number");
    return *d;
  }
};

// An AnyValue as label text: strings as they are, other kinds as their JSON text.
std::string any_value_text(const Field &v) {
  v.expect_object();
  if (!v.present() || v.value->items.empty()) return "";
  const std::string &kind = v.value->names.front();
  const JsonValue &inner = v.value->items.front();
  if (inner.kind == Kind::string || inner.kind == Kind::number) return inner.text;
  if (inner.kind == Kind::boolean) return inner.boolean ? "true" : "false";
  return kind;
}

std::vector<Label> attributes_of(const Field &point) {
  std::vector<Label> labels;
  const Field attributes = point("attributes");
  attributes.array();
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    const Field a = attributes[i];
    a.expect_object();
    labels.push_back({a("key").string_or(""), any_value_text(a("value"))});
  }
  return labels;
}

void check_total(const Field &point, uint64_t total) {
  const Field count = point("count");
  const uint64_t declared = count.count_or(total);
  if (declared != total)
    count.fail("count " + std::to_string(declared) + " is not the buckets' total " + std::to_string(total));
}

// The counts of one side, and their total (saturating for the check only).
std::vector<uint64_t> counts_of(const Field &counts, uint64_t &total) {
  std::vector<uint64_t> out;
  counts.array();
  for (std::size_t i = 0; i < counts.size(); ++i) {
    out.push_back(counts[i].count_or(0));
    total = out.back() > UINT64_MAX - total ? UINT64_MAX : total + out.back();
  }
  return out;
}

histogram *exponential_point(const Field &point) {
  const int scale = int(point("scale").integer_or(0, HIST_EXPONENTIAL_MIN_SCALE, HIST_EXPONENTIAL_MAX_SCALE));
  uint64_t total = point("zeroCount", "zero_count").count_or(0);
  hist_exponential e{scale, total, {}, {}};
  std::vector<uint64_t> sides[2];
  const char *names[2] = {"positive", "negative"};
  hist_exponential_side *targets[2] = {&e.positive, &e.negative};
  for (int s = 0; s < 2; ++s) {
    const Field side = point(names[s]);
    side.expect_object();
    sides[s] = counts_of(side("bucketCounts", "bucket_counts"), total);
    const Field offset = side("offset");
    *targets[s] = {int32_t(offset.integer_or(0, INT32_MIN, INT32_MAX)), sides[s].size(), sides[s].data()};
    if (!sides[s].empty() && int64_t{targets[s]->offset} + int64_t(sides[s].size()) - 1 > INT32_MAX)
      offset.fail("the last bucket's index passes 2^31 - 1");
  }
  check_total(point, total);
  // Under either spelling: the one checked is the one read.
  if (const Field threshold = point("zeroThreshold", "zero_threshold"); threshold.present()) threshold.finite_double();
  histogram *h = hist_from_exponential(&e, nullptr);
  if (h == nullptr) point.fail("the buckets' total passes 2^64 - 1");
  return h;
}

histogram *explicit_point(const Field &point) {
  const Field bounds_field = point("explicitBounds", "explicit_bounds");
  std::vector<double> bounds;
  bounds_field.array();
  for (std::size_t i = 0; i < bounds_field.size(); ++i) {
    bounds.push_back(bounds_field[i].finite_double());
    if (i > 0 && !(bounds[i - 1] < bounds[i])) bounds_field[i].fail("bounds must be strictly ascending");
  }
  uint64_t total = 0;
  const Field counts_field = point("bucketCounts", "bucket_counts");
  std::vector<uint64_t> counts = counts_of(counts_field, total);
  check_total(point, total);
  if (counts.empty()) counts.assign(bounds.size() + 1, 0);  // a data point without any sample
  if (counts.size() != bounds.size() + 1)
    counts_field.fail(std::to_string(counts.size()) + " counts for " + std::to_string(bounds.size()) +
                      " bounds; there must be one more count than bounds");
  histogram *h = hist_from_explicit_bounds(bounds.data(), bounds.size(), counts.data(), counts.size(), nullptr);
  if (h == nullptr) point.fail("the buckets' total passes 2^64 - 1");
  return h;
}

void read_metric(const Field &metric, Entries &out) {
  metric.expect_object();
  const std::string name = metric("name").string_or("");
  struct HistogramKind {
    const char *camel, *snake;
    histogram *(*convert)(const Field &);
  };
  for (const HistogramKind kind : {HistogramKind{"exponentialHistogram", "exponential_histogram", exponential_point},
                                   HistogramKind{"histogram", "histogram", explicit_point}}) {
    const Field data = metric(kind.camel, kind.snake);
    if (!data.present()) continue;
    data.expect_object();
    const Field points = data("dataPoints", "data_points");
    points.array();
    for (std::size_t i = 0; i < points.size(); ++i) {
      const Field point = points[i];
      point.expect_object();
      std::vector<Label> labels = attributes_of(point);
      const Field time = point("timeUnixNano", "time_unix_nano");
      const double seconds = time.present() ? double(time.count_or(0)) / nanoseconds_per_second : NAN;
      varrow::Histogram h = varrow::Histogram::adopt(kind.convert(point));
      out.push_back({series_key(name, labels), name, std::move(labels), seconds, std::move(h)});
    }
  }
}

}  // namespace

Entries read_otlp(std::string_view text) {
  const JsonValue document = parse_json(text);
  const Field root{&document, "$"};
  if (document.kind != Kind::object) root.fail("expected an object");
  const Field resources = root("resourceMetrics", "resource_metrics");
  if (!resources.present()) resources.fail("missing: not an OTLP metrics document");
  resources.array();
  Entries out;
  for (std::size_t r = 0; r < resources.size(); ++r) {
    resources[r].expect_object();
    Field scopes = resources[r]("scopeMetrics", "scope_metrics");
    if (!scopes.present()) scopes = resources[r]("instrumentationLibraryMetrics", "instrumentation_library_metrics");
    scopes.array();
    for (std::size_t s = 0; s < scopes.size(); ++s) {
      scopes[s].expect_object();
      const Field metrics = scopes[s]("metrics");
      metrics.array();
      for (std::size_t m = 0; m < metrics.size(); ++m) read_metric(metrics[m], out);
    }
  }
  return out;
}

namespace {

std::string counts_array(const std::vector<uint64_t> &counts) {
  std::string out = "[";
  for (std::size_t i = 0; i < counts.size(); ++i) {
    out += i > 0 ? ",\"" : "\"";
    out += std::to_string(counts[i]) + '"';
  }
  return out + ']';
}

std::string data_point(const Entry &entry, const OtlpOptions &options, std::size_t index) {
  const histogram *h = entry.histogram.get();
  const int scale = options.scale ? *options.scale : hist_exponential_scale_for(h, default_otlp_buckets);
  hist_exponential e{};
  if (hist_exponential_layout(h, scale, &e) != 0) fail_at_field("histogram " + std::to_string(index + 1), "no layout at this scale");
  const uint64_t limit = max_otlp_buckets;
  if (e.positive.length > limit || e.negative.length > limit)
    fail_at_field("histogram " + std::to_string(index + 1),
                  "needs more than " + std::to_string(limit) + " buckets at scale " + std::to_string(scale) +
                      "; choose a smaller --scale");
  std::vector<uint64_t> positive(e.positive.length), negative(e.negative.length);
  e.positive.counts = positive.data(), e.negative.counts = negative.data();
  hist_to_exponential(h, &e);
  std::string point = "{";
  if (!entry.labels.empty()) {
    point += "\"attributes\":[";
    for (std::size_t i = 0; i < entry.labels.size(); ++i)
      point += (i > 0 ? ",{\"key\":" : "{\"key\":") + json_string(entry.labels[i].name) +
               ",\"value\":{\"stringValue\":" + json_string(entry.labels[i].value) + "}}";
    point += "],";
  }
  if (std::isfinite(entry.time) && entry.time >= 0)
    point += "\"timeUnixNano\":\"" + std::to_string(uint64_t(std::llround(entry.time * nanoseconds_per_second))) + "\",";
  point += "\"count\":\"" + std::to_string(entry.histogram.sample_count()) + "\",";
  const double sum = entry.histogram.sum();
  if (std::isfinite(sum)) point += "\"sum\":" + format_double(sum) + ",";
  point += "\"scale\":" + std::to_string(scale) + ",\"zeroCount\":\"" + std::to_string(e.zero_count) + "\"";
  point += ",\"positive\":{\"offset\":" + std::to_string(e.positive.offset) + ",\"bucketCounts\":" + counts_array(positive) + "}";
  point += ",\"negative\":{\"offset\":" + std::to_string(e.negative.offset) + ",\"bucketCounts\":" + counts_array(negative) + "}";
  return point + "}";
}

}  // namespace

void write_otlp(const Entries &entries, const OtlpOptions &options, std::string &out) {
  if (options.scale && (*options.scale < HIST_EXPONENTIAL_MIN_SCALE || *options.scale > HIST_EXPONENTIAL_MAX_SCALE))
    fail_at_field("--scale", "must lie in -10..20");
  std::string points;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    points += i > 0 ? "," : "";
    points += data_point(entries[i], options, i);
  }
  out += "{\"resourceMetrics\":[{\"resource\":{},\"scopeMetrics\":[{\"scope\":{\"name\":\"varrow\"},\"metrics\":[{\"name\":" +
         json_string(options.name) + ",\"exponentialHistogram\":{\"aggregationTemporality\":" +
         std::to_string(delta_temporality) + ",\"dataPoints\":[" + points + "]}}]}]}]}\n";
}

}  // namespace varrow_formats
