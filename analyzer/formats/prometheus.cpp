// The Prometheus text exposition format (0.0.4) and OpenMetrics text: every
// classic histogram series in, classic histograms out.
#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "formats.hpp"
#include "text.hpp"

namespace varrow_formats {

namespace {

constexpr std::string_view bucket_suffix = "_bucket";
constexpr std::string_view bound_label = "le";

bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_name_char(char c) { return is_name_start(c) || (c >= '0' && c <= '9'); }

// A cursor over one line, failing with the line's number.
class LineReader {
 public:
  LineReader(std::string_view line, std::size_t number) : rest_(line), number_(number) {}

  [[noreturn]] void fail(const std::string &what) const { fail_at_line(number_, what); }
  bool done() const { return rest_.empty(); }
  char peek() const { return rest_.empty() ? '\0' : rest_.front(); }
  bool take(char c) {
    if (peek() != c) return false;
    rest_.remove_prefix(1);
    return true;
  }
  void expect(char c, const char *what) {
    if (!take(c)) fail(std::string("expected ") + what);
  }
  void skip_blanks() {
    while (!rest_.empty() && (rest_.front() == ' ' || rest_.front() == '\t')) rest_.remove_prefix(1);
  }
  // A run of characters that may follow the first.
  std::string_view name(bool metric) {
    std::size_t n = 0;
    const auto ok_first = [metric](char c) { return is_name_start(c) || (metric && c == ':'); };
    const auto ok_next = [metric](char c) { return is_name_char(c) || (metric && c == ':'); };
    if (rest_.empty() || !ok_first(rest_.front())) fail(metric ? "expected a metric name" : "expected a label name");
    while (n < rest_.size() && ok_next(rest_[n])) ++n;
    const std::string_view out = rest_.substr(0, n);
    rest_.remove_prefix(n);
    return out;
  }
  std::string quoted() {
    expect('"', "a quoted label value");
    std::string value;
    for (;;) {
      if (rest_.empty()) fail("label value without its closing quote");
      const char c = rest_.front();
      rest_.remove_prefix(1);
      if (c == '"') return value;
      if (c != '\\') {
        value += c;
        continue;
      }
      if (rest_.empty()) fail("label value without its closing quote");
      const char escaped = rest_.front();
      rest_.remove_prefix(1);
      if (escaped == 'n') value += '\n';
      else if (escaped == '\\' || escaped == '"') value += escaped;
      else fail(std::string("unknown escape \\") + escaped + " in a label value");
    }
  }
  std::vector<Label> labels() {
    std::vector<Label> out;
    skip_blanks();
    while (!take('}')) {
      skip_blanks();
      Label label{std::string(name(false)), {}};
      skip_blanks();
      expect('=', "'=' after a label name");
      skip_blanks();
      label.value = quoted();
      for (const Label &seen : out)
        if (seen.name == label.name) fail("label " + label.name + " given twice");
      out.push_back(std::move(label));
      skip_blanks();
      if (take('}')) break;
      expect(',', "',' or '}' after a label");
      skip_blanks();
    }
    return out;
  }
  std::string_view token() {
    std::size_t n = 0;
    while (n < rest_.size() && rest_[n] != ' ' && rest_[n] != '\t') ++n;
    const std::string_view out = rest_.substr(0, n);
    rest_.remove_prefix(n);
    return out;
  }
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
  std::size_t number_;
};

struct Sample {
  std::string name;
  std::vector<Label> labels;
  double value;
  std::string_view value_text;
};

// name{labels} value [timestamp] [# exemplar]
Sample parse_sample(LineReader &line) {
  Sample s;
  s.name = std::string(line.name(true));
  line.skip_blanks();
  if (line.take('{')) s.labels = line.labels();
  line.skip_blanks();
  s.value_text = line.token();
  const std::optional<double> value = parse_double(s.value_text);
  if (!value) line.fail("bad number '" + std::string(s.value_text) + "'");
  s.value = *value;
  line.skip_blanks();
  if (!line.done() && line.peek() != '#') {
    const std::string_view stamp = line.token();
    if (!parse_double(stamp)) line.fail("bad timestamp '" + std::string(stamp) + "'");
    line.skip_blanks();
  }
  // An OpenMetrics exemplar (# {labels} value [timestamp]) is read and dropped.
  if (line.take('#')) {
    line.skip_blanks();
    line.expect('{', "an exemplar's labels");
    line.labels();
    line.skip_blanks();
    if (!parse_double(line.token())) line.fail("bad exemplar value");
    line.skip_blanks();
    if (!line.done() && !parse_double(line.token())) line.fail("bad exemplar timestamp");
    line.skip_blanks();
  }
  if (!line.done()) line.fail("unexpected text '" + std::string(line.rest()) + "'");
  return s;
}

struct BucketLine {
  double bound;
  uint64_t count;
  std::size_t line;
};

struct Series {
  std::string metric;
  std::vector<Label> labels;  // without le, sorted by name
  std::size_t first_line;
  std::vector<BucketLine> buckets;
};

Entry series_histogram(Series &series) {
  std::sort(series.buckets.begin(), series.buckets.end(),
            [](const BucketLine &a, const BucketLine &b) { return a.bound < b.bound; });
  std::vector<double> bounds;
  std::vector<uint64_t> counts;
  uint64_t previous = 0;
  for (std::size_t i = 0; i < series.buckets.size(); ++i) {
    const BucketLine &b = series.buckets[i];
    if (i > 0 && b.bound == series.buckets[i - 1].bound)
      fail_at_line(b.line, "le=\"" + format_double(b.bound) + "\" given twice in this series");
    if (b.count < previous)
      fail_at_line(b.line, "falling cumulative count: " + std::to_string(b.count) + " at le=\"" +
                               format_double(b.bound) + "\" after " + std::to_string(previous) + " below it");
    counts.push_back(b.count - previous);
    previous = b.count;
    if (!std::isinf(b.bound)) bounds.push_back(b.bound);
  }
  if (series.buckets.empty() || !std::isinf(series.buckets.back().bound))
    fail_at_line(series.first_line, "series " + series_key(series.metric, series.labels) + " has no le=\"+Inf\" bucket");
  histogram *h = hist_from_explicit_bounds(bounds.data(), bounds.size(), counts.data(), counts.size(), nullptr);
  if (h == nullptr) throw std::bad_alloc();
  return {series_key(series.metric, series.labels), series.metric, series.labels, NAN, varrow::Histogram::adopt(h)};
}

// A family's declared type, from "# TYPE name type".
using Types = std::map<std::string, std::string, std::less<>>;

void read_comment(std::string_view line, Types &types) {
  LineReader comment(line, 0);
  comment.take('#');
  comment.skip_blanks();
  if (comment.token() != "TYPE") return;
  comment.skip_blanks();
  const std::string name(comment.token());
  comment.skip_blanks();
  types[name] = std::string(comment.token());
}

bool is_histogram_type(const std::string &type) { return type == "histogram" || type == "gaugehistogram"; }

// Whether a sample named name belongs to a classic histogram's buckets.
bool is_bucket_sample(const Sample &s, const Types &types) {
  if (s.name.size() <= bucket_suffix.size() || !s.name.ends_with(bucket_suffix)) return false;
  const std::string family = s.name.substr(0, s.name.size() - bucket_suffix.size());
  if (const auto t = types.find(family); t != types.end() && !is_histogram_type(t->second)) return false;
  if (types.contains(s.name)) return false;  // a family of its own named ..._bucket
  return std::any_of(s.labels.begin(), s.labels.end(), [](const Label &l) { return l.name == bound_label; });
}

}  // namespace

Entries read_prometheus(std::string_view text) {
  Types types;
  std::vector<std::unique_ptr<Series>> order;
  std::map<std::string, Series *> by_key;
  bool ended = false;
  for_each_line(text, [&](std::string_view raw, std::size_t number) {
    const std::string_view line = trim(raw);
    if (ended) {
      if (!line.empty()) fail_at_line(number, "text after # EOF");
      return true;
    }
    if (line.empty()) return true;
    if (line.front() == '#') {
      if (line == "# EOF") ended = true;
      else read_comment(line, types);
      return true;
    }
    LineReader reader(line, number);
    Sample s = parse_sample(reader);
    if (!is_bucket_sample(s, types)) return true;
    double bound = NAN;
    std::vector<Label> labels;
    for (Label &l : s.labels) {
      if (l.name != bound_label) {
        labels.push_back(std::move(l));
        continue;
      }
      const std::optional<double> parsed = parse_double(l.value);
      if (!parsed || std::isnan(*parsed) || *parsed == -INFINITY) reader.fail("bad le=\"" + l.value + "\"");
      bound = *parsed;
    }
    const std::optional<uint64_t> count = parse_count(s.value_text);
    if (!count) reader.fail("bucket count '" + std::string(s.value_text) + "' is not a whole number from 0 to 2^64 - 1");
    std::sort(labels.begin(), labels.end(), [](const Label &a, const Label &b) { return a.name < b.name; });
    const std::string metric = s.name.substr(0, s.name.size() - bucket_suffix.size());
    const std::string key = series_key(metric, labels);
    Series *&series = by_key[key];
    if (series == nullptr) {
      order.push_back(std::make_unique<Series>(Series{metric, std::move(labels), number, {}}));
      series = order.back().get();
    }
    series->buckets.push_back({bound, *count, number});
    return true;
  });
  Entries out;
  for (const auto &series : order) out.push_back(series_histogram(*series));
  return out;
}

const std::vector<double> &default_prometheus_bounds() {
  static const std::vector<double> bounds = {.005, .01, .025, .05, .075, .1, .25, .5, .75, 1, 2.5, 5, 7.5, 10};
  return bounds;
}

bool is_metric_name(std::string_view text) {
  if (text.empty() || !(is_name_start(text.front()) || text.front() == ':')) return false;
  return std::all_of(text.begin(), text.end(), [](char c) { return is_name_char(c) || c == ':'; });
}

std::vector<double> parse_bound_list(std::string_view text) {
  std::vector<double> out;
  std::size_t field = 0;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view item = trim(text.substr(0, comma));
    ++field;
    const std::optional<double> value = parse_double(item);
    if (!value || !std::isfinite(*value))
      fail_at_field("bound " + std::to_string(field), "'" + std::string(item) + "' is not a finite number");
    if (!out.empty() && !(out.back() < *value))
      fail_at_field("bound " + std::to_string(field), "bounds must be strictly ascending");
    out.push_back(*value);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return out;
}

std::vector<Label> parse_label_list(std::string_view text) {
  std::string closed(trim(text));
  if (closed.empty()) return {};
  closed += '}';
  LineReader reader(closed, 1);
  std::vector<Label> labels = reader.labels();
  if (!reader.done()) reader.fail("unexpected text after the labels");
  for (const Label &l : labels)
    if (l.name == bound_label) reader.fail("le is the bucket bound and cannot be given");
  return labels;
}

void write_prometheus(const Entries &entries, const PrometheusOptions &options, std::string &out) {
  if (!is_metric_name(options.name)) fail_at_field("name", "'" + options.name + "' is not a metric name");
  const std::vector<double> &bounds = options.bounds.empty() ? default_prometheus_bounds() : options.bounds;
  for (std::size_t i = 0; i < bounds.size(); ++i)
    if (!std::isfinite(bounds[i]) || (i > 0 && !(bounds[i - 1] < bounds[i])))
      fail_at_field("le", "bounds must be finite and strictly ascending");
  for (const Label &l : options.labels)
    if (l.name == bound_label || l.name.empty() || !is_name_start(l.name[0]) ||
        !std::all_of(l.name.begin(), l.name.end(), is_name_char))
      fail_at_field("labels", "'" + l.name + "' is not a label name that may be given");
  std::string text = "# TYPE " + options.name + " histogram\n";
  std::set<std::vector<Label>> seen;
  std::vector<uint64_t> counts(bounds.size() + 1);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry &e = entries[i];
    std::vector<Label> labels = e.labels;
    for (const Label &extra : options.labels) {
      const auto same = std::find_if(labels.begin(), labels.end(), [&](const Label &l) { return l.name == extra.name; });
      if (same != labels.end()) same->value = extra.value;
      else labels.push_back(extra);
    }
    std::sort(labels.begin(), labels.end(), [](const Label &a, const Label &b) { return a.name < b.name; });
    if (!seen.insert(labels).second)
      fail_at_field("histogram " + std::to_string(i + 1),
                    "its series " + series_key(options.name, labels) +
                        " is already written; give each histogram distinct labels (--labels, or labelled input)");
    hist_to_explicit_bounds(e.histogram.get(), bounds.data(), bounds.size(), counts.data());
    std::string prefix;
    for (const Label &l : labels) prefix += l.name + "=\"" + escape_label_value(l.value) + "\",";
    uint64_t cumulative = 0;
    for (std::size_t b = 0; b <= bounds.size(); ++b) {
      cumulative = counts[b] > UINT64_MAX - cumulative ? UINT64_MAX : cumulative + counts[b];
      const std::string bound = b < bounds.size() ? format_double(bounds[b]) : "+Inf";
      text += options.name + "_bucket{" + prefix + "le=\"" + bound + "\"} " + std::to_string(cumulative) + '\n';
    }
    const std::string plain = labels.empty() ? "" : "{" + prefix.substr(0, prefix.size() - 1) + "}";
    text += options.name + "_sum" + plain + ' ' + format_double(e.histogram.sum()) + '\n';
    text += options.name + "_count" + plain + ' ' + std::to_string(cumulative) + '\n';
  }
  out += text;
}

}  // namespace varrow_formats
