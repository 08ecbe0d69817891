// The serialized histogram and its base64 text: widths, the worked example,
// the reader's rules and failures, and the lenient text reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "tests/histogram_test_support.hpp"
#include "histogram/varrow.h"

namespace {

using bytes = std::vector<uint8_t>;

using entry = varrow_test::Entry;
using varrow_test::ExpectConsistent;
using varrow_test::Fill;

using varrow_test::BucketOf;



bytes serialize(const histogram *h) {
  bytes out(static_cast<size_t>(hist_serialize_estimate(h)));
  EXPECT_EQ(hist_serialize(h, out.data(), static_cast<ssize_t>(out.size())), static_cast<ssize_t>(out.size()));
  return out;
}

std::string serialize_b64(const histogram *h) {
  std::string out(static_cast<size_t>(hist_serialize_b64_estimate(h)), '\0');
  const ssize_t n = hist_serialize_b64(h, out.data(), out.size());
  EXPECT_GT(n, 0);
  out.resize(static_cast<size_t>(n));
  return out;
}


struct hist_deleter {
  void operator()(histogram *h) const { hist_free(h); }
};
using hist_ptr = std::unique_ptr<histogram, hist_deleter>;

const std::vector<entry> worked_example{{10, 0, 1}, {25, 0, 300}};
const bytes worked_example_bytes{0x00, 0x02, 0x0a, 0x00, 0x00, 0x01, 0x19, 0x00, 0x01, 0x2c, 0x01};
const std::string worked_example_text = "AAIKAAABGQABLAE=";

// ---- Writing ----------------------------------------------------------------

TEST(SerializeWidth, LimitsTable) {
  const uint64_t expected[7] = {255u, 65535u, 16777215u, 4294967295u, 1099511627775u, 281474976710655u,
                                72057594037927935u};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(bvl_limits[k], expected[k]) << k;
}

// Each width boundary: the row's limit takes k + 1 bytes, one more takes k + 2.
TEST(SerializeWidth, BoundariesChooseFewestBytes) {
  struct row {
    uint64_t count;
    int width;
  };
  std::vector<row> rows{{1, 0}, {UINT64_MAX, 7}, {uint64_t{1} << 63, 7}};
  for (int k = 0; k < 7; ++k) {
    rows.push_back({bvl_limits[k], k});
    rows.push_back({bvl_limits[k] + 1, k + 1});
  }
  for (const row &r : rows) {
    const hist_ptr h(hist_alloc());
    hist_insert_raw(h.get(), BucketOf(10, 0), r.count);
    const bytes out = serialize(h.get());
    ASSERT_EQ(out.size(), static_cast<size_t>(2 + 4 + r.width)) << r.count;
    EXPECT_EQ(out[4], r.width) << r.count;
    uint64_t back = 0;
    for (int i = r.width; i >= 0; --i) back = (back << 8) | out[5 + i];
    EXPECT_EQ(back, r.count);
  }
}

TEST(Serialize, WorkedExample) {
  const hist_ptr h(hist_alloc());
  Fill(h.get(), worked_example);
  EXPECT_EQ(hist_serialize_estimate(h.get()), 11);
  EXPECT_EQ(serialize(h.get()), worked_example_bytes);

  const hist_ptr back(hist_alloc());
  EXPECT_EQ(hist_deserialize(back.get(), worked_example_bytes.data(), 11), 11);
  EXPECT_EQ(varrow_test::Contents(back.get()), worked_example);
  EXPECT_EQ(serialize(back.get()), worked_example_bytes);
}

TEST(Serialize, LargestCountIsEightBytesOfOnes) {
  const hist_ptr h(hist_alloc());
  hist_insert_raw(h.get(), BucketOf(-99, 127), UINT64_MAX);
  EXPECT_EQ(serialize(h.get()), (bytes{0, 1, 0x9d, 0x7f, 7, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}));
}

TEST(Serialize, EmptyAndZeroCountsWriteOnlyTheHeader) {
  const hist_ptr zeros(hist_alloc());
  Fill(zeros.get(), {{10, 0, 0}, {20, 3, 0}});
  const hist_ptr empty(hist_alloc());
  for (const histogram *h : std::vector<const histogram *>{nullptr, empty.get(), zeros.get()}) {
    EXPECT_EQ(hist_serialize_estimate(h), 2);
    EXPECT_EQ(serialize(h), (bytes{0, 0}));
  }
}

TEST(Serialize, ZeroCountsAreSkippedBetweenRecords) {
  const hist_ptr h(hist_alloc());
  Fill(h.get(), {{10, 0, 1}, {20, 0, 0}, {25, 0, 300}});
  EXPECT_EQ(serialize(h.get()), worked_example_bytes);
}

TEST(Serialize, BufferTooShort) {
  const hist_ptr h(hist_alloc());
  Fill(h.get(), worked_example);
  bytes out(11, 0xee);
  EXPECT_EQ(hist_serialize(h.get(), out.data(), 10), -1);
  EXPECT_EQ(hist_serialize(h.get(), out.data(), 1), -1);
  EXPECT_EQ(hist_serialize(nullptr, out.data(), 1), -1);
  EXPECT_EQ(out[10], 0xee);  // nothing past the given length
  EXPECT_EQ(hist_serialize(h.get(), out.data(), 11), 11);
}

// ---- Reading ----------------------------------------------------------------

struct read_case {
  const char *name;
  bytes input;
  ssize_t result;
  std::vector<entry> entries;
  int capacity;
};

class Deserialize : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { h.reset(GetParam() ? hist_fast_alloc() : hist_alloc()); }
  hist_ptr h;
};

// Every rule of the reader, for the replacing and the adding reader alike.
const std::vector<read_case> &ReadCases() {
  static const std::vector<read_case> cases{
      {"empty record", {0, 0}, 2, {}, 0},
      {"empty record, trailing bytes ignored", {0, 0, 1, 2, 3}, 2, {}, 0},
      {"count without records", {0, 5}, 2, {}, 5},
      // Capacity follows what the input can hold, beyond one growth step.
      {"count beyond the input", {0xff, 0xff, 0x0a, 0, 0, 1}, 6, {{10, 0, 1}}, 100},
      {"count beyond the input, no records", {0xff, 0xff}, 2, {}, 100},
      {"worked example", worked_example_bytes, 11, worked_example, 2},
      {"fewer records than announced", {0, 3, 0x0a, 0, 0, 1}, 6, {{10, 0, 1}}, 3},
      {"bytes after the last record are left", {0, 1, 0x0a, 0, 0, 1, 0x14, 0, 0, 2}, 6, {{10, 0, 1}}, 1},
      {"zero count skipped", {0, 2, 0x0a, 0, 0, 0, 0x14, 0, 0, 2}, 10, {{20, 0, 2}}, 2},
      {"invalid bucket skipped but consumed", {0, 2, 0x05, 0, 0, 9, 0x14, 0, 0, 2}, 10, {{20, 0, 2}}, 2},
      {"NaN bucket stored", {0, 2, 0xff, 0, 0, 4, 0x14, 0, 0, 2}, 10, {{-1, 0, 4}, {20, 0, 2}}, 2},
      {"zero bucket keeps its exp", {0, 1, 0, 5, 0, 3}, 6, {{0, 5, 3}}, 1},
      {"wide count", {0, 1, 0x0a, 0, 1, 0x2c, 0x01}, 7, {{10, 0, 300}}, 1},
      {"out of order is sorted", {0, 3, 0x1e, 0, 0, 3, 0x0a, 0, 0, 1, 0xf6, 0, 0, 2}, 14,
       {{-10, 0, 2}, {10, 0, 1}, {30, 0, 3}}, 3},
      {"repeated buckets are added", {0, 3, 0x0a, 0, 0, 1, 0x14, 0, 0, 2, 0x0a, 0, 0, 4}, 14,
       {{10, 0, 5}, {20, 0, 2}}, 3},
      {"repeated buckets saturate",
       {0, 2, 0x0a, 0, 7, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x0a, 0, 0, 1},
       17,
       {{10, 0, UINT64_MAX}},
       2},
      {"shorter than the header", {0}, -1, {}, 0},
      {"nothing at all", {}, -1, {}, 0},
      {"record header cut short", {0, 1, 0x0a, 0}, -1, {}, 0},
      {"width code above 7", {0, 1, 0x0a, 0, 8, 1, 1, 1, 1, 1, 1, 1, 1, 1}, -1, {}, 0},
      {"record body cut short", {0, 1, 0x0a, 0, 1, 0x2c}, -1, {}, 0},
      {"failure after good records discards them", {0, 2, 0x0a, 0, 0, 1, 0x14, 0}, -1, {}, 0},
  };
  return cases;
}

TEST_P(Deserialize, Table) {
  for (const read_case &c : ReadCases()) {
    SCOPED_TRACE(c.name);
    Fill(h.get(), {{50, -3, 7}, {-20, 2, 1}});  // replaced, never merged into
    EXPECT_EQ(hist_deserialize(h.get(), c.input.data(), static_cast<ssize_t>(c.input.size())), c.result);
    EXPECT_EQ(varrow_test::Contents(h.get()), c.entries);
    EXPECT_EQ(h->capacity, c.capacity);
    EXPECT_EQ(h->entries == nullptr, c.capacity == 0);
    ExpectConsistent(h.get());
    // Buckets held before the read are gone from the fast index too.
    int pos;
    EXPECT_EQ(hist_internal_find(h.get(), BucketOf(50, -3), &pos), 0);
    // Later insertions grow the array as usual.
    hist_insert_raw(h.get(), BucketOf(99, 9), 1);
    ExpectConsistent(h.get());
  }
}

TEST_P(Deserialize, ReversedRecordOfManyBuckets) {
  hist_ptr source(hist_alloc());
  for (int e = -50; e < 50; ++e)
    for (int v = 10; v < 100; v += 7) hist_insert_raw(source.get(), BucketOf(v, e), static_cast<uint64_t>(v * 1000 + e));
  const auto expected = varrow_test::Contents(source.get());
  bytes record{static_cast<uint8_t>(expected.size() >> 8), static_cast<uint8_t>(expected.size())};
  for (auto it = expected.rbegin(); it != expected.rend(); ++it) {
    const bytes one = [&] {
      hist_ptr single(hist_alloc());
      Fill(single.get(), {*it});
      return serialize(single.get());
    }();
    record.insert(record.end(), one.begin() + 2, one.end());
  }
  EXPECT_EQ(hist_deserialize(h.get(), record.data(), static_cast<ssize_t>(record.size())),
            static_cast<ssize_t>(record.size()));
  EXPECT_EQ(varrow_test::Contents(h.get()), expected);
  ExpectConsistent(h.get());
}

// The sum of two sorted entry tables, saturating, as the adding readers give.
std::vector<entry> Sum(const std::vector<entry> &a, const std::vector<entry> &b) {
  const hist_ptr h(hist_alloc());
  Fill(h.get(), a);
  Fill(h.get(), b);
  return varrow_test::Contents(h.get());
}

const std::vector<entry> held_before_add{{-20, 2, 1}, {50, -3, 7}, {20, 0, UINT64_MAX - 1}};

// The adding reader accepts and rejects exactly what the replacing one does;
// it keeps what the histogram held, and a rejected record leaves it as it was.
TEST_P(Deserialize, AddTable) {
  for (const read_case &c : ReadCases()) {
    SCOPED_TRACE(c.name);
    h.reset(GetParam() ? hist_fast_alloc() : hist_alloc());
    Fill(h.get(), held_before_add);
    EXPECT_EQ(hist_deserialize_add(h.get(), c.input.data(), static_cast<ssize_t>(c.input.size())), c.result);
    EXPECT_EQ(varrow_test::Contents(h.get()), c.result < 0 ? held_before_add : Sum(held_before_add, c.entries));
    ExpectConsistent(h.get());
    hist_insert_raw(h.get(), BucketOf(99, 9), 1);
    ExpectConsistent(h.get());
  }
}

TEST_P(Deserialize, AddSaturatesAndAddsToEmpty) {
  // 2^64 - 2 held in 20e0 and 2 added: the count stops at 2^64 - 1.
  const bytes record{0, 2, 0x14, 0, 0, 2, 0x0a, 5, 0, 9};
  Fill(h.get(), held_before_add);
  EXPECT_EQ(hist_deserialize_add(h.get(), record.data(), static_cast<ssize_t>(record.size())), 10);
  EXPECT_EQ(varrow_test::Contents(h.get()),
            (std::vector<entry>{{-20, 2, 1}, {50, -3, 7}, {20, 0, UINT64_MAX}, {10, 5, 9}}));
  // Into a histogram that a failed read left without an entry array.
  const bytes broken{0, 1, 0x0a};
  EXPECT_EQ(hist_deserialize(h.get(), broken.data(), 3), -1);
  ASSERT_EQ(h->entries, nullptr);
  EXPECT_EQ(hist_deserialize_add(h.get(), record.data(), static_cast<ssize_t>(record.size())), 10);
  EXPECT_EQ(varrow_test::Contents(h.get()), (std::vector<entry>{{20, 0, 2}, {10, 5, 9}}));
  ExpectConsistent(h.get());
}

TEST_P(Deserialize, AddBeyondTheBucketLimitLeavesHistogramUnchanged) {
  for (const hist_bucket b : varrow_test::RawBucketsInOrder(65535)) hist_insert_raw_end(h.get(), b, 1);
  ASSERT_EQ(hist_bucket_count(h.get()), 65535);
  const hist_bucket held = varrow_test::RawBucketsInOrder(65535).back();
  // One bucket already held (added to), one new: all or nothing.
  const bytes record{0, 2, static_cast<uint8_t>(held.val), static_cast<uint8_t>(held.exp), 0, 4, 99, 127, 0, 1};
  ASSERT_NE(hist_bucket_compare(held, BucketOf(99, 127)), 0);
  const auto before = varrow_test::Contents(h.get());
  EXPECT_EQ(hist_deserialize_add(h.get(), record.data(), static_cast<ssize_t>(record.size())), -1);
  EXPECT_EQ(varrow_test::Contents(h.get()), before);
  ExpectConsistent(h.get());
}

INSTANTIATE_TEST_SUITE_P(PlainAndFast, Deserialize, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "fast" : "plain"; });

void *failing_calloc(size_t, size_t) { return nullptr; }

TEST(DeserializeMemory, FailedEntryArrayLeavesEmptyHistogram) {
  const hist_allocator no_calloc{std::malloc, failing_calloc, std::free};
  const hist_ptr h(hist_alloc());
  Fill(h.get(), worked_example);
  h->allocator = &no_calloc;
  EXPECT_EQ(hist_deserialize(h.get(), worked_example_bytes.data(), 11), -1);
  EXPECT_EQ(h->capacity, 0);
  EXPECT_EQ(h->used, 0);
  EXPECT_EQ(h->entries, nullptr);
  h->allocator = &default_allocator;
}

TEST(RoundTrip, RandomHistograms) {
  std::mt19937_64 rng(42);
  for (int round = 0; round < 12; ++round) {
    const hist_ptr h(round % 2 ? hist_fast_alloc() : hist_alloc());
    const int n = static_cast<int>(rng() % 2000);
    for (int i = 0; i < n; ++i) {
      const double value = std::ldexp(static_cast<double>(rng() % 1000000) - 500000.0, static_cast<int>(rng() % 200) - 100);
      hist_insert(h.get(), value, rng() >> (rng() % 64));
    }
    hist_remove_zeroes(h.get());
    const hist_ptr back(hist_alloc());
    const bytes record = serialize(h.get());
    EXPECT_EQ(hist_deserialize(back.get(), record.data(), static_cast<ssize_t>(record.size())),
              static_cast<ssize_t>(record.size()));
    EXPECT_EQ(varrow_test::Contents(back.get()), varrow_test::Contents(h.get()));
    const hist_ptr from_text(hist_fast_alloc());
    const std::string text = serialize_b64(h.get());
    EXPECT_EQ(hist_deserialize_b64(from_text.get(), text.data(), text.size()), static_cast<ssize_t>(record.size()));
    EXPECT_EQ(varrow_test::Contents(from_text.get()), varrow_test::Contents(h.get()));
    ExpectConsistent(from_text.get());
  }
}

// ---- Base64 text ------------------------------------------------------------

TEST(SerializeB64, WorkedExample) {
  const hist_ptr h(hist_alloc());
  Fill(h.get(), worked_example);
  EXPECT_EQ(hist_serialize_b64_estimate(h.get()), 11 / 3 * 4 + 4);
  EXPECT_EQ(serialize_b64(h.get()), worked_example_text);
  EXPECT_EQ(serialize_b64(nullptr), "AAA=");
}

TEST(SerializeB64, PaddingOfEachTailLength) {
  // Records of 6, 7 and 8 bytes: no padding, "==" and "=".
  const std::vector<std::pair<std::vector<entry>, std::string>> cases{
      {{{10, 0, 1}}, "AAEKAAAB"},
      {{{10, 0, 300}}, "AAEKAAEsAQ=="},
      {{{10, 0, 70000}}, "AAEKAAJwEQE="},
  };
  for (const auto &[es, text] : cases) {
    const hist_ptr h(hist_alloc());
    Fill(h.get(), es);
    EXPECT_EQ(serialize_b64(h.get()), text);
    EXPECT_LE(static_cast<ssize_t>(text.size()), hist_serialize_b64_estimate(h.get()));
  }
}

TEST(SerializeB64, BufferSizes) {
  const hist_ptr h(hist_alloc());
  Fill(h.get(), worked_example);
  std::string out(16, '#');
  EXPECT_EQ(hist_serialize_b64(h.get(), out.data(), 15), 0);
  EXPECT_EQ(out, std::string(16, '#'));
  EXPECT_EQ(hist_serialize_b64(h.get(), out.data(), 16), 16);
  EXPECT_EQ(out, worked_example_text);
}

struct text_case {
  const char *name;
  std::string text;
  ssize_t result;
  std::vector<entry> entries;
};

const std::vector<text_case> &LenientReaderCases() {
  static const std::vector<text_case> cases{
      {"empty histogram", "AAA=", 2, {}},
      {"trailing newline", "AAA=\n", 2, {}},
      {"surrounding blanks", " AAA= ", 2, {}},
      {"decoding ends at a foreign byte", "AAA=!xyz", 2, {}},
      {"a second padding character ends it", "AAA==", 2, {}},
      {"worked example", worked_example_text, 11, worked_example},
      {"white space anywhere", " AAIK\tAAAB\nGQ AB\r\nL\vA\fE=\n", 11, worked_example},
      {"foreign byte after the text", worked_example_text + "\"}", 11, worked_example},
      {"embedded NUL ends the text", std::string("AAA=\0garbage", 12), 2, {}},
      // After "=" following three values a group yields two bytes, for good.
      {"lowered group size stays", "AAE=CgAAAAEA", 6, {{10, 0, 1}}},
      {"too short", "AAA", -1, {}},
      {"two characters", "AA", -1, {}},
      {"missing final padding cuts the record", worked_example_text.substr(0, 15), -1, {}},
      {"one byte decoded", "AA==", -1, {}},
      {"nothing decoded", "====", -1, {}},
      {"foreign byte first", "!AAA=", -1, {}},
      {"UTF-8 no-break space is not white space", "AA\xc2\xa0" "A=", -1, {}},
      {"incomplete group yields nothing", "AAA=AA", 2, {}},
      {"bytes left over after the record", "AAAA", -1, {}},
  };
  return cases;
}

TEST(DeserializeB64, LenientReader) {
  for (const text_case &c : LenientReaderCases()) {
    SCOPED_TRACE(c.name);
    const hist_ptr h(hist_alloc());
    EXPECT_EQ(hist_deserialize_b64(h.get(), c.text.data(), c.text.size()), c.result);
    if (c.result >= 0) {
      EXPECT_EQ(varrow_test::Contents(h.get()), c.entries);
    }
  }
}

// The adding text reader: the same texts accepted, their record added; a
// rejected text, even one whose record was good but had bytes left over,
// leaves the histogram as it was.
TEST(DeserializeB64, AddingReader) {
  for (const text_case &c : LenientReaderCases()) {
    SCOPED_TRACE(c.name);
    for (const bool fast : {false, true}) {
      const hist_ptr h(fast ? hist_fast_alloc() : hist_alloc());
      Fill(h.get(), held_before_add);
      EXPECT_EQ(hist_deserialize_b64_add(h.get(), c.text.data(), c.text.size()), c.result);
      EXPECT_EQ(varrow_test::Contents(h.get()), c.result < 0 ? held_before_add : Sum(held_before_add, c.entries));
      ExpectConsistent(h.get());
    }
  }
  const std::string left_over = "AAEKAAABFAAAAg==";
  const hist_ptr h(hist_alloc());
  Fill(h.get(), worked_example);
  EXPECT_EQ(hist_deserialize_b64_add(h.get(), left_over.data(), left_over.size()), -1);
  EXPECT_EQ(varrow_test::Contents(h.get()), worked_example);
}

TEST(DeserializeB64, EarlyFailuresLeaveHistogramUntouched) {
  for (const std::string text : {"AAA", "AA==", "===="}) {
    const hist_ptr h(hist_alloc());
    Fill(h.get(), worked_example);
    EXPECT_EQ(hist_deserialize_b64(h.get(), text.data(), text.size()), -1) << text;
    EXPECT_EQ(varrow_test::Contents(h.get()), worked_example) << text;
  }
}

TEST(DeserializeB64, LeftOverBytesKeepWhatWasRead) {
  // N = 1, then two records: the first is read, the second left over.
  const std::string text = "AAEKAAABFAAAAg==";
  const hist_ptr h(hist_alloc());
  EXPECT_EQ(hist_deserialize_b64(h.get(), text.data(), text.size()), -1);
  EXPECT_EQ(varrow_test::Contents(h.get()), (std::vector<entry>{{10, 0, 1}}));
}

TEST(DeserializeB64, FailedRecordEmptiesHistogram) {
  const std::string text = worked_example_text.substr(0, 12);  // the record cut after 9 bytes
  const hist_ptr h(hist_alloc());
  Fill(h.get(), worked_example);
  EXPECT_EQ(hist_deserialize_b64(h.get(), text.data(), text.size()), -1);
  EXPECT_EQ(h->capacity, 0);
  EXPECT_EQ(hist_bucket_count(h.get()), 0);
}

TEST(DeserializeB64, LongTextsUseHeapScratch) {
  // Padded with white space to 10,000 characters.
  std::string padded = worked_example_text + std::string(10000 - worked_example_text.size(), ' ');
  const hist_ptr h(hist_alloc());
  EXPECT_EQ(hist_deserialize_b64(h.get(), padded.data(), padded.size()), 11);
  EXPECT_EQ(varrow_test::Contents(h.get()), worked_example);

  // A histogram whose record alone passes 8192 bytes.
  const hist_ptr big(hist_alloc());
  for (int e = -60; e < 60; ++e)
    for (int v = 10; v < 100; v += 4) hist_insert_raw(big.get(), BucketOf(v, e), 1000003);
  ASSERT_GT(hist_serialize_estimate(big.get()), 8192);
  const std::string text = serialize_b64(big.get());
  EXPECT_EQ(hist_deserialize_b64(h.get(), text.data(), text.size()), hist_serialize_estimate(big.get()));
  EXPECT_EQ(varrow_test::Contents(h.get()), varrow_test::Contents(big.get()));
}

}  // namespace
