// HdrHistogram_c's own interval logs (written by jHiccup, encodings V0 to
// V2), read by histconv's reader and by the peer itself, interval by
// interval: the same total, the same count below every bucket edge, and
// percentiles within one bucket of the peer's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <hdr/hdr_histogram.h>
#include <hdr/hdr_histogram_log.h>
}

#include "analyzer/formats/formats.hpp"
#include "histogram/hist_internal.hpp"

namespace {

const char *const logs[] = {"hiccup.140623.1028.10646.hlog", "jHiccup-2.0.1.logV0.hlog", "jHiccup-2.0.6.logV1.hlog",
                            "jHiccup-2.0.7S.logV2.hlog", "jHiccup-2.0.7S.logV3.hlog"};
const double percentiles[] = {0, 10, 50, 90, 99, 99.9, 99.99, 100};

std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The encoded histogram of every interval line, in order.
std::vector<std::string> EncodedIntervals(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#' || line[0] == '"') continue;
    out.push_back(line.substr(line.rfind(',') + 1));
  }
  return out;
}

int32_t KeyOf(double value) { return hist_bucket_order_key(double_to_hist_bucket(value)); }

class PeerLogs : public ::testing::TestWithParam<const char *> {};

TEST_P(PeerLogs, IntervalsMatchThePeer) {
  const std::string text = Slurp(std::string(HDR_PEER_TEST_DIR) + "/" + GetParam());
  ASSERT_FALSE(text.empty());
  const varrow_formats::Entries entries = varrow_formats::read_hdr(text, 1.0);
  const std::vector<std::string> encoded = EncodedIntervals(text);
  ASSERT_EQ(entries.size(), encoded.size());
  double worst_relative = 0;
  int worst_buckets = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    hdr_histogram *peer = nullptr;
    std::string base64 = encoded[i];
    ASSERT_EQ(hdr_log_decode(&peer, base64.data(), base64.size()), 0) << "interval " << i;
    const varrow::Histogram &mine = entries[i].histogram;
    EXPECT_EQ(mine.sample_count(), uint64_t(peer->total_count)) << "interval " << i;

    // Below every edge of a bucket in use, the peer's count of recorded
    // values (each range by its lowest value) is the same.
    for (const varrow::BucketCount &bc : mine) {
      const double edge = bc.bucket.value();
      int64_t below = 0;
      hdr_iter iter;
      hdr_iter_recorded_init(&iter, peer);
      while (hdr_iter_next(&iter))
        if (double(iter.value) < edge) below += iter.count;
      EXPECT_EQ(mine.count_below_exclusive(edge), uint64_t(below)) << "interval " << i << " edge " << edge;
    }
    // The peer reports the highest value of the range holding a percentile;
    // ours must lie within one bucket of that range.
    for (const double p : percentiles) {
      const int64_t highest = hdr_value_at_percentile(peer, p);
      const double lowest = double(hdr_lowest_equivalent_value(peer, highest));
      // The same sample: the peer's rank is p/100 x N rounded (at least 1);
      // the library takes rank ceil(q x N), so q is put halfway into it.
      const double n = double(peer->total_count);
      const double rank = std::max(1.0, std::floor(p / 100 * n + 0.5));
      const double ours = mine.quantile(std::min(1.0, (rank - 0.5) / n));
      const int32_t key = KeyOf(ours), low_key = KeyOf(lowest), high_key = KeyOf(double(highest));
      const int buckets = key < low_key ? low_key - key : key > high_key ? key - high_key : 0;
      EXPECT_LE(buckets, 1) << "interval " << i << " p" << p << ": " << ours << " against [" << lowest << ", "
                            << highest << "]";
      worst_buckets = std::max(worst_buckets, buckets);
      const double outside = ours < lowest ? lowest - ours : ours > double(highest) ? ours - double(highest) : 0;
      if (highest > 0) worst_relative = std::max(worst_relative, outside / double(highest));
    }
    hdr_close(peer);
  }
  RecordProperty("worst_percentile_relative_difference", std::to_string(worst_relative));
  std::printf("%s: %zu intervals, percentiles at most %d bucket(s) and %.3g%% outside the peer's ranges\n", GetParam(),
              entries.size(), worst_buckets, 100 * worst_relative);
}

INSTANTIATE_TEST_SUITE_P(Logs, PeerLogs, ::testing::ValuesIn(logs));

TEST(PeerLogs, InvalidTaggedLinesAreRefused) {
  for (const char *name : {"test_tagged_invalid_histogram.txt", "test_tagged_invalid_tag_key.txt",
                           "test_tagged_invalid_timestamp.txt", "test_tagged_missing_histogram.txt"}) {
    const std::string text = Slurp(std::string(HDR_PEER_TEST_DIR) + "/" + name);
    EXPECT_THROW(varrow_formats::read_hdr(text, 1.0), varrow_formats::FormatError) << name;
  }
}

}  // namespace
