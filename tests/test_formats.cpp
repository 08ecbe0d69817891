// The readers and writers of histconv's formats: what each reads from text
// as its producers write it, the round trips through Prometheus and OTLP,
// and bad input of every format refused with its line or field.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "analyzer/formats/formats.hpp"
#include "analyzer/formats/json.hpp"

namespace {

using namespace varrow_formats;

varrow::Histogram Latencies(unsigned seed, int n) {
  std::mt19937_64 rng(seed);
  std::lognormal_distribution<double> latency(-3.0, 1.2);
  varrow::Histogram h;
  for (int i = 0; i < n; ++i) h.insert(latency(rng), 1 + rng() % 4);
  return h;
}

Entries One(varrow::Histogram h) {
  Entries e;
  e.push_back({"", "", {}, NAN, std::move(h)});
  return e;
}

// ---- Prometheus ----

// As Python's prometheus_client writes a labelled histogram (floats for
// counts), with HELP, _created and another metric type around it.
const char *const client_text = R"(# HELP request_seconds Time spent
# TYPE request_seconds histogram
request_seconds_bucket{le="0.005",path="/a b"} 1.0
request_seconds_bucket{le="0.01",path="/a b"} 3.0
request_seconds_bucket{le="+Inf",path="/a b"} 7.0
request_seconds_count{path="/a b"} 7.0
request_seconds_sum{path="/a b"} 0.31
request_seconds_created{path="/a b"} 1.7e9
request_seconds_bucket{path="q\"\\\n",le="0.01"} 0
request_seconds_bucket{path="q\"\\\n",le="+Inf"} 2 1700000000000
# TYPE up gauge
up 1
)";

TEST(Prometheus, ReadsEverySeriesInOrderOfItsFirstLine) {
  const Entries e = read_prometheus(client_text);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].key, "request_seconds{path=\"/a b\"}");
  EXPECT_EQ(e[1].key, "request_seconds{path=\"q\\\"\\\\\\n\"}");
  EXPECT_EQ(e[1].labels[0].value, "q\"\\\n");
  EXPECT_EQ(e[0].histogram.sample_count(), 7u);
  EXPECT_EQ(e[0].histogram.count_below_exclusive(0.005), 1u);
  EXPECT_EQ(e[0].histogram.count_below_exclusive(0.01), 3u);
  EXPECT_EQ(e[1].histogram.sample_count(), 2u);
}

TEST(Prometheus, OpenMetricsWithExemplarsAndEof) {
  const Entries e = read_prometheus(
      "# TYPE rpc histogram\n# UNIT rpc seconds\nrpc_bucket{le=\"1.0\"} 2 # {trace_id=\"ab\"} 0.7 1.6e9\n"
      "rpc_bucket{le=\"+Inf\"} 5\nrpc_count 5\nrpc_sum 9.5\n# EOF\n");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].key, "rpc");
  EXPECT_EQ(e[0].histogram.count_below_exclusive(1.0), 2u);
}

TEST(Prometheus, RoundTripKeepsCountsBelowEdgeBoundsAndTotal) {
  const std::vector<std::vector<double>> bound_sets = {
      {}, {0.001, 0.0123, 0.05, 0.3, 2}, {0.0125, 0.0333, 0.07}};  // the last: no bound is an edge but 0.07
  for (const auto &bounds : bound_sets) {
    varrow::Histogram h = Latencies(3, 5000);
    const uint64_t total = h.sample_count();
    std::string text;
    write_prometheus(One(h.clone()), {"lat", bounds, {{"job", "x"}}}, text);
    const Entries back = read_prometheus(text);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].key, "lat{job=\"x\"}");
    EXPECT_EQ(back[0].histogram.sample_count(), total);
    for (double b : bounds.empty() ? default_prometheus_bounds() : bounds) {
      const hist_bucket edge = double_to_hist_bucket(b);
      if (std::fabs(hist_bucket_to_double(edge) - b) > 1e-12 * b) continue;  // not an edge
      EXPECT_EQ(back[0].histogram.count_below_exclusive(b), h.count_below_exclusive(b)) << b;
    }
  }
}

TEST(Prometheus, WriterNeedsDistinctSeriesAndAValidName) {
  Entries two = One(Latencies(1, 10));
  two.push_back({"", "", {}, NAN, Latencies(2, 10)});
  std::string out;
  EXPECT_THROW(write_prometheus(two, {"lat", {}, {}}, out), FormatError);
  EXPECT_THROW(write_prometheus(One(Latencies(1, 10)), {"9lat", {}, {}}, out), FormatError);
  EXPECT_TRUE(out.empty());
  two[1].labels = {{"shard", "2"}};
  write_prometheus(two, {"lat", {}, {}}, out);
  EXPECT_NE(out.find("lat_bucket{shard=\"2\",le=\"+Inf\"} "), std::string::npos);
}

TEST(Prometheus, OptionLists) {
  EXPECT_EQ(parse_bound_list("0.1, 1,10"), (std::vector<double>{0.1, 1, 10}));
  EXPECT_EQ(parse_label_list("a=\"1\",b=\"x\\\"y\""), (std::vector<Label>{{"a", "1"}, {"b", "x\"y"}}));
  for (const char *bad : {"", "1,1", "2,1", "1,x", "1,inf"}) EXPECT_THROW(parse_bound_list(bad), FormatError) << bad;
  for (const char *bad : {"a=1", "le=\"1\"", "a=\"1\" b", "a=\"1", "a=\"1\",a=\"2\""})
    EXPECT_THROW(parse_label_list(bad), FormatError) << bad;
}

// ---- OTLP ----

// As the SDKs' OTLP/JSON exporters and the Collector's file exporter write
// a metrics document: 64-bit numbers as strings, attributes as AnyValues.
const char *const collector_json = R"({"resourceMetrics":[{"resource":{"attributes":[{"key":"service.name","value":{"stringValue":"api"}}]},
 "scopeMetrics":[{"scope":{"name":"io.opentelemetry.runtime","version":"1.0"},"metrics":[
  {"name":"http.server.duration","unit":"ms","exponentialHistogram":{"aggregationTemporality":2,"dataPoints":[
   {"attributes":[{"key":"http.route","value":{"stringValue":"/users"}},{"key":"code","value":{"intValue":"200"}}],
    "startTimeUnixNano":"1700000000000000000","timeUnixNano":"1700000060000000000","count":"11","sum":81.5,
    "scale":2,"zeroCount":"1","positive":{"offset":11,"bucketCounts":["2","0","5",3]},"negative":{},
    "flags":0,"min":0,"max":25.0,"zeroThreshold":0}]}},
  {"name":"queue.depth","gauge":{"dataPoints":[{"asInt":"4"}]}},
  {"name":"db.latency","histogram":{"aggregationTemporality":1,"dataPoints":[
   {"timeUnixNano":1700000060000000000,"count":"6","sum":1.25,"bucketCounts":["1","2","3"],"explicitBounds":[0.1,0.5]},
   {"count":"0","bucketCounts":[],"explicitBounds":[0.1,0.5]}]}}]}]}]})";

TEST(Otlp, ReadsExponentialAndExplicitDataPointsInOrder) {
  const Entries e = read_otlp(collector_json);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].key, "http.server.duration{http.route=\"/users\",code=\"200\"}");
  EXPECT_DOUBLE_EQ(e[0].time, 1700000060.0);
  EXPECT_EQ(e[0].histogram.sample_count(), 11u);
  EXPECT_EQ(e[0].histogram.count_nearby(0.0), 1u);
  // Index 11 at scale 2 starts at 2^(11/4) = 6.73; index 15 ends at 2^4 = 16.
  EXPECT_EQ(e[0].histogram.count_below_exclusive(6.7), 1u);
  EXPECT_EQ(e[0].histogram.count_below_exclusive(16), 11u);
  EXPECT_EQ(e[1].key, "db.latency");
  EXPECT_EQ(e[1].histogram.count_below_exclusive(0.1), 1u);
  EXPECT_EQ(e[1].histogram.count_below_exclusive(0.5), 3u);
  EXPECT_EQ(e[2].histogram.sample_count(), 0u);
}

// The protobuf JSON mapping's field names are accepted as well: a zero
// threshold spelt zero_threshold is read (and checked) as zeroThreshold is.
TEST(Otlp, SnakeCaseZeroThresholdIsRead) {
  const std::string point = R"({"resourceMetrics":[{"scopeMetrics":[{"metrics":[{"name":"lat","exponentialHistogram":{"dataPoints":[
    {"count":"2","scale":0,"zeroCount":"1","positive":{"offset":0,"bucketCounts":["1"]},"zero_threshold":THRESHOLD}]}}]}]}]})";
  const auto with = [&](const std::string &threshold) {
    std::string text = point;
    return text.replace(text.find("THRESHOLD"), std::strlen("THRESHOLD"), threshold);
  };
  const Entries e = read_otlp(with("0.5"));
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].histogram.sample_count(), 2u);
  EXPECT_THROW(read_otlp(with("\"x\"")), FormatError);
}

TEST(Otlp, RoundTripKeepsTotalAndSharedEdges) {
  for (const std::optional<int> scale : {std::optional<int>{}, std::optional<int>{0}, std::optional<int>{6}}) {
    varrow::Histogram h = Latencies(5, 4000);
    h.insert(-0.5, 3);
    h.insert(0.0, 2);
    std::string text;
    OtlpOptions options;
    options.scale = scale;
    write_otlp(One(h.clone()), options, text);
    const Entries back = read_otlp(text);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].histogram.sample_count(), h.sample_count());
    for (double edge : {0.25, 0.5, 1.0, 2.0})
      EXPECT_EQ(back[0].histogram.count_below_exclusive(edge), h.count_below_exclusive(edge)) << edge;
    // The document is valid JSON with counts as strings.
    const JsonValue doc = parse_json(text);
    EXPECT_NE(doc.member("resourceMetrics"), nullptr);
    EXPECT_NE(text.find("\"count\":\"" + std::to_string(h.sample_count()) + "\""), std::string::npos);
  }
}

TEST(Otlp, WriterRefusesAScaleThatNeedsTooManyBuckets) {
  varrow::Histogram h;
  h.insert(1e-100, 1);
  h.insert(1e100, 1);
  std::string out;
  OtlpOptions options;
  options.scale = 20;
  EXPECT_THROW(write_otlp(One(std::move(h)), options, out), FormatError);
  EXPECT_TRUE(out.empty());
}

// ---- Bins and base64 ----

TEST(Bins, ThroughTheAdHocApproximation) {
  const char *text = "lower,upper,count\n# comment\n-inf,0.005,3\n0.005,0.01,5\n0.01,0.025,7\n0.025,inf,2\n";
  const Entries arithmetic = read_bins(text, HIST_ADHOC_ARITHMETIC_MID);
  ASSERT_EQ(arithmetic.size(), 1u);
  EXPECT_EQ(arithmetic[0].histogram.count_nearby(0.0075), 5u);
  EXPECT_EQ(arithmetic[0].histogram.count_nearby(0.04), 2u);
  EXPECT_EQ(read_bins(text, HIST_ADHOC_INNER_EDGE)[0].histogram.count_nearby(0.005001), 5u);
  EXPECT_EQ(read_bins("", HIST_ADHOC_ARITHMETIC_MID)[0].histogram.sample_count(), 0u);
}

// ---- Bad input of every format ----

struct BadCase {
  const char *name;
  std::function<Entries(std::string_view)> read;
  std::string text;
  const char *message;  // part of the error's text: the line or field, and what
};

Entries Prom(std::string_view t) { return read_prometheus(t); }
Entries Otlp(std::string_view t) { return read_otlp(t); }
Entries Hdr(std::string_view t) { return read_hdr(t, 1.0); }
Entries Bins(std::string_view t) { return read_bins(t, HIST_ADHOC_ARITHMETIC_MID); }
Entries B64(std::string_view t) { return read_b64(t); }

class BadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadInput, IsRefusedWithItsPlace) {
  const BadCase &c = GetParam();
  try {
    c.read(c.text);
    ADD_FAILURE() << "accepted";
  } catch (const FormatError &e) {
    EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
  }
}

const std::string v2_header = "HISTFAAAAEV42pNpmSzMwMCgyAABTBDKT4GBgdnNYMcCBvsPEBEJISEuATEZMQ4uASkhIR4nrxg9v2lMaxhvMekILGZkKmcCAEf2CsI=";

INSTANTIATE_TEST_SUITE_P(
    Formats, BadInput,
    ::testing::Values(
        BadCase{"prometheus falling count", Prom, "a_bucket{le=\"1\"} 5\na_bucket{le=\"2\"} 3\na_bucket{le=\"+Inf\"} 9\n",
                "line 2: falling cumulative count"},
        BadCase{"prometheus falling count out of order", Prom,
                "a_bucket{le=\"+Inf\"} 2\na_bucket{le=\"1\"} 5\n", "line 1: falling cumulative count"},
        BadCase{"prometheus no +Inf", Prom, "# c\na_bucket{le=\"1\"} 5\n", "line 2: series a has no le=\"+Inf\""},
        BadCase{"prometheus bad number", Prom, "a_bucket{le=\"1\"} five\n", "line 1: bad number 'five'"},
        BadCase{"prometheus bad le", Prom, "a_bucket{le=\"x\"} 1\n", "line 1: bad le=\"x\""},
        BadCase{"prometheus fractional count", Prom, "a_bucket{le=\"+Inf\"} 1.5\n", "line 1: bucket count '1.5'"},
        BadCase{"prometheus negative count", Prom, "a_bucket{le=\"+Inf\"} -1\n", "line 1: bucket count '-1'"},
        BadCase{"prometheus duplicate le", Prom, "a_bucket{le=\"1\"} 1\na_bucket{le=\"1.0\"} 1\na_bucket{le=\"+Inf\"} 1\n",
                "line 2: le=\"1\" given twice"},
        BadCase{"prometheus unclosed labels", Prom, "x 1\na_bucket{le=\"1\" 1\n", "line 2: expected ',' or '}'"},
        BadCase{"prometheus bad escape", Prom, "a_bucket{l=\"\\t\",le=\"1\"} 1\n", "line 1: unknown escape"},
        BadCase{"prometheus bad timestamp", Prom, "up 1 soon\n", "line 1: bad timestamp"},
        BadCase{"prometheus text after EOF", Prom, "# EOF\nup 1\n", "line 2: text after # EOF"},
        BadCase{"prometheus bad name", Prom, "{le=\"1\"} 1\n", "line 1: expected a metric name"},
        BadCase{"otlp not json", Otlp, "{\"resourceMetrics\": [}", "line 1, column 22: unexpected character"},
        BadCase{"otlp too deep", Otlp, std::string(200, '[') + std::string(200, ']'), "nested more than"},
        BadCase{"otlp no resourceMetrics", Otlp, "{}", "$.resourceMetrics: missing"},
        BadCase{"otlp bad count", Otlp,
                R"({"resourceMetrics":[{"scopeMetrics":[{"metrics":[{"name":"m","histogram":{"dataPoints":[{"bucketCounts":["1","x"],"explicitBounds":[1]}]}}]}]}]})",
                "$.resourceMetrics[0].scopeMetrics[0].metrics[0].histogram.dataPoints[0].bucketCounts[1]: 'x' is not a whole number"},
        BadCase{"otlp counts and bounds", Otlp,
                R"({"resourceMetrics":[{"scopeMetrics":[{"metrics":[{"histogram":{"dataPoints":[{"bucketCounts":["1"],"explicitBounds":[1]}]}}]}]}]})",
                "bucketCounts: 1 counts for 1 bounds"},
        BadCase{"otlp count mismatch", Otlp,
                R"({"resourceMetrics":[{"scopeMetrics":[{"metrics":[{"exponentialHistogram":{"dataPoints":[{"count":"5","scale":1,"positive":{"offset":0,"bucketCounts":["1"]}}]}}]}]}]})",
                "dataPoints[0].count: count 5 is not the buckets' total 1"},
        BadCase{"otlp scale", Otlp,
                R"({"resourceMetrics":[{"scopeMetrics":[{"metrics":[{"exponentialHistogram":{"dataPoints":[{"scale":21}]}}]}]}]})",
                "dataPoints[0].scale: '21' is not an integer from -10 to 20"},
        BadCase{"otlp offset", Otlp,
                R"({"resourceMetrics":[{"scopeMetrics":[{"metrics":[{"exponentialHistogram":{"dataPoints":[{"positive":{"offset":2147483647,"bucketCounts":["1","1"]}}]}}]}]}]})",
                "positive.offset: the last bucket's index passes"},
        BadCase{"otlp descending bounds", Otlp,
                R"({"resourceMetrics":[{"scopeMetrics":[{"metrics":[{"histogram":{"dataPoints":[{"bucketCounts":["1","1","1"],"explicitBounds":[2,1]}]}}]}]}]})",
                "explicitBounds[1]: bounds must be strictly ascending"},
        BadCase{"otlp infinite bound", Otlp,
                R"({"resourceMetrics":[{"scopeMetrics":[{"metrics":[{"histogram":{"dataPoints":[{"bucketCounts":["1","1"],"explicitBounds":["Infinity"]}]}}]}]}]})",
                "explicitBounds[0]: 'Infinity' is not a finite number"},
        BadCase{"otlp wrong type", Otlp, R"({"resourceMetrics":{}})", "$.resourceMetrics: expected an array"},
        BadCase{"hdr not base64", Hdr, "HIST*AAA\n", "line 1: HdrHistogram: not base64 text"},
        BadCase{"hdr unknown cookie", Hdr, "\nAAAAAAAAAAAA\n", "line 2: HdrHistogram: unknown encoding cookie 0x00000000"},
        BadCase{"hdr cut off", Hdr, v2_header.substr(0, 40) + "\n", "line 1: HdrHistogram: the compressed"},
        BadCase{"hdr corrupt deflate", Hdr, "HISTFAAAAEV4" + std::string(120, 'A') + "\n", "line 1: HdrHistogram: the compressed data is corrupt"},
        BadCase{"hdr lowest near 2^63", Hdr, "HISTEwAAAAAAAAAAAAAAA2schJMYAAAAfOZsUOKEAAA/8AAAAAAAAA==\n",
                "line 1: HdrHistogram: highest trackable value is below twice the lowest"},
        BadCase{"hlog fields", Hdr, "#[StartTime: 1 (s)]\n\"StartTimestamp\"\n0.1,1.0," + v2_header + "\n",
                "line 3: HdrHistogram: an interval line has start,length,max,histogram (3 fields here)"},
        BadCase{"hlog bad interval", Hdr, "0.1,x,1.0," + v2_header + "\n", "line 1: HdrHistogram: bad interval length 'x'"},
        BadCase{"bins fields", Bins, "1,2\n", "line 1: expected lower,upper,count"},
        BadCase{"bins edge", Bins, "# x\n1,y,2\n", "line 2: bad upper edge 'y'"},
        BadCase{"bins nan", Bins, "nan,1,2\n", "line 1: bad lower edge 'nan'"},
        BadCase{"bins order", Bins, "2,1,2\n", "line 1: the upper edge lies below the lower one"},
        BadCase{"bins count", Bins, "1,2,-3\n", "line 1: count '-3'"},
        BadCase{"b64", B64, "AAA=\n\nnot base64!\n", "line 3: not a base64 histogram"}),
    [](const ::testing::TestParamInfo<BadCase> &info) {
      std::string name = info.param.name;
      for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

TEST(Hdr, PlainEncodingThroughTheDecimalPath) {
  // An uncompressed V2 encoding of 3 samples at 5 and 7 at 100 (3 digits).
  const char *plain = "HISTEwAAAAUAAAAAAAAAAwAAAAAAAAABAAADRjC4oAA/8AAAAAAAAAkGuwEO";
  const Entries e = read_hdr(plain, 1e-3);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].histogram.count_nearby(0.005), 3u);
  EXPECT_EQ(e[0].histogram.count_nearby(0.1), 7u);
  EXPECT_EQ(read_hdr(plain, 0.5)[0].histogram.count_nearby(50.0), 7u);
}

TEST(Hdr, UnitMustBePositive) {
  EXPECT_THROW(read_hdr("", 0.0), FormatError);
  EXPECT_THROW(read_hdr("", NAN), FormatError);
  EXPECT_TRUE(read_hdr("# nothing\n", 1e-9).empty());
}

TEST(Table, HdrHistogramLayout) {
  varrow::Histogram h;
  for (int i = 1; i <= 100; ++i) h.insert(i * 0.001);
  std::string out;
  write_table(One(std::move(h)), out);
  EXPECT_EQ(out.rfind("       Value     Percentile TotalCount 1/(1-Percentile)\n\n", 0), 0u);
  EXPECT_NE(out.find(" 0.500000000000 "), std::string::npos);
  EXPECT_NE(out.find(", Total count    =          100]"), std::string::npos) << out;
}

TEST(Svg, StandaloneDocumentWithLinesAndAxes) {
  Entries stream;
  for (int i = 0; i < 5; ++i) stream.push_back({"", "", {}, 60.0 * i, Latencies(10 + i, 500)});
  std::string out;
  write_svg(stream, out);
  EXPECT_EQ(out.rfind("<?xml", 0), 0u);
  EXPECT_NE(out.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 7), "</svg>\n");
  for (const char *part : {">p50<", ">p99<", ">p99.9<", "value (log scale)", "+240s", "<polyline"})
    EXPECT_NE(out.find(part), std::string::npos) << part;
}

}  // namespace
