// Merging and arithmetic: accumulation (against a straightforward reference),
// clamped subtraction and its exactness status, and the wrap rules of the
// _as_int64 variants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "tests/histogram_test_support.hpp"
#include "histogram/varrow.h"

namespace {

using entry = varrow_test::Entry;
using varrow_test::ExpectConsistent;

using entries = varrow_test::Entries;

using varrow_test::BucketOf;

struct hist_deleter {
  void operator()(histogram *h) const { hist_free(h); }
};
using hist_ptr = std::unique_ptr<histogram, hist_deleter>;

hist_ptr make(const entries &es, bool fast = false) {
  hist_ptr h(fast ? hist_fast_alloc() : hist_alloc());
  varrow_test::Fill(h.get(), es);
  return h;
}



constexpr uint64_t max_count = UINT64_MAX;
constexpr uint64_t half = uint64_t{1} << 63;
// Bucket shorthands: the values 1.0, 2.0 and 3.0.
constexpr int one = 10, two = 20, three = 30;

// ---- hist_accumulate ----------------------------------------------------------

struct accumulate_case {
  const char *name;
  entries target;
  std::vector<entries> sources;  // an empty list in a source stands for a null pointer
  entries expected;
};

class Accumulate : public ::testing::TestWithParam<bool> {};

TEST_P(Accumulate, Table) {
  const std::vector<accumulate_case> cases{
      {"no sources", {{one, 0, 3}, {two, 0, 0}}, {}, {{one, 0, 3}, {two, 0, 0}}},
      {"into empty", {}, {{{one, 0, 3}}}, {{one, 0, 3}}},
      {"overlapping", {{two, 0, 1}, {three, 0, 2}}, {{{one, 0, 3}, {two, 0, 5}}}, {{one, 0, 3}, {two, 0, 6}, {three, 0, 2}}},
      {"null sources change nothing", {{two, 0, 1}}, {{}, {{one, 0, 3}}, {}}, {{one, 0, 3}, {two, 0, 1}}},
      {"counts saturate", {{one, 0, half}}, {{{one, 0, half}}, {{one, 0, 1}}}, {{one, 0, max_count}}},
      {"zero counts are carried", {}, {{{one, 0, 0}}, {{-one, 3, 0}}}, {{-one, 3, 0}, {one, 0, 0}}},
      {"all kinds of bucket",
       {{0, 0, 1}, {-1, 0, 2}},
       {{{-99, 127, 1}, {one, -128, 1}}, {{-1, 0, 5}, {0, 0, 1}, {99, 127, 1}}},
       {{-1, 0, 7}, {-99, 127, 1}, {0, 0, 2}, {one, -128, 1}, {99, 127, 1}}},
      // Different invalid buckets from different sources still come out in
      // bucket order, whichever source holds them.
      {"invalid buckets in order", {}, {{{-1, 0, 1}}, {{5, 0, 1}}, {{100, 3, 1}}}, {{5, 0, 1}, {100, 3, 1}, {-1, 0, 1}}},
  };
  for (const accumulate_case &c : cases) {
    SCOPED_TRACE(c.name);
    const hist_ptr target = make(c.target, GetParam());
    std::vector<hist_ptr> owned;
    std::vector<const histogram *> sources;
    for (const entries &es : c.sources) {
      owned.push_back(es.empty() ? nullptr : make(es));
      sources.push_back(owned.back().get());
    }
    EXPECT_EQ(hist_accumulate(target.get(), sources.data(), static_cast<int>(sources.size())),
              static_cast<int>(c.expected.size()));
    EXPECT_EQ(varrow_test::Contents(target.get()), c.expected);
    EXPECT_EQ(target->capacity, std::max<size_t>(c.expected.size(), 1));
    ExpectConsistent(target.get());
  }
}

TEST_P(Accumulate, TargetAmongSourcesCountsItsPreviousContents) {
  const hist_ptr target = make({{one, 0, 2}, {two, 0, 3}}, GetParam());
  const hist_ptr other = make({{two, 0, 1}});
  const histogram *sources[] = {target.get(), other.get()};
  EXPECT_EQ(hist_accumulate(target.get(), sources, 2), 2);
  EXPECT_EQ(varrow_test::Contents(target.get()), (entries{{one, 0, 4}, {two, 0, 7}}));
}

TEST_P(Accumulate, NegativeSourceCountIsRefused) {
  const hist_ptr target = make({{one, 0, 2}}, GetParam());
  EXPECT_EQ(hist_accumulate(target.get(), nullptr, -1), -1);
  EXPECT_EQ(varrow_test::Contents(target.get()), (entries{{one, 0, 2}}));
}

INSTANTIATE_TEST_SUITE_P(PlainAndFast, Accumulate, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "fast" : "plain"; });

// The reference: every source entry inserted one by one.
entries reference_sum(const histogram *target, const std::vector<const histogram *> &sources) {
  const hist_ptr sum(hist_alloc());
  for (const histogram *h : sources)
    varrow_test::Fill(sum.get(), varrow_test::Contents(h));
  varrow_test::Fill(sum.get(), varrow_test::Contents(target));
  return varrow_test::Contents(sum.get());
}

// Source counts on both sides of the local working buffers (1,024 source
// pointers, 8,192 merge heads), random overlapping buckets and huge counts.
TEST(AccumulateMany, MatchesReference) {
  std::mt19937_64 rng(7);
  for (const int n : {1, 3, 1024, 1025, 8192, 8193}) {
    SCOPED_TRACE(n);
    std::vector<hist_ptr> owned;
    std::vector<const histogram *> sources;
    for (int i = 0; i < n; ++i) {
      if (rng() % 17 == 0) {
        sources.push_back(nullptr);
        continue;
      }
      hist_ptr h(hist_alloc());
      const int buckets = static_cast<int>(rng() % 6);
      for (int b = 0; b < buckets; ++b)
        hist_insert_raw(h.get(), BucketOf(static_cast<int>(10 + rng() % 90) * (rng() % 2 ? 1 : -1), static_cast<int>(rng() % 8)),
                        rng() % 4 == 0 ? rng() : rng() % 100);
      sources.push_back(h.get());
      owned.push_back(std::move(h));
    }
    const hist_ptr target = make({{one, 0, 1}, {55, 9, 2}}, true);
    const entries expected = reference_sum(target.get(), sources);
    EXPECT_EQ(hist_accumulate(target.get(), sources.data(), n), static_cast<int>(expected.size()));
    EXPECT_EQ(varrow_test::Contents(target.get()), expected);
    ExpectConsistent(target.get());
  }
}

// One call over many sources against folding them in one at a time, on both
// sides of the switch from the heap merge to the dense table (16 sources
// holding 1,024 entries in all): many per-minute histograms, many sources
// that are mostly empty, few large ones, the target among the sources, and
// counts that saturate or are zero.
struct many_sources_case {
  const char *name;
  int sources;
  int samples;             // per source, each a log-normal value
  int empty_every;         // every this many sources is null (0: none)
  uint64_t count;          // per sample; large counts saturate
};

// The sum of the sources folded in one at a time, each in its own call.
entries pairwise_sum(const entries &target, const std::vector<const histogram *> &sources) {
  const hist_ptr sum = make(target);
  for (const histogram *h : sources) {
    const histogram *one_source[] = {h};
    EXPECT_GE(hist_accumulate(sum.get(), one_source, 1), 0);
  }
  return varrow_test::Contents(sum.get());
}

class AccumulateManySources : public ::testing::TestWithParam<bool> {};

TEST_P(AccumulateManySources, OneCallMatchesPairwise) {
  const many_sources_case cases[] = {
      {"5,000 per-minute histograms", 5000, 200, 0, 1},
      {"15 large sources", 15, 2000, 0, 1},
      {"2,000 mostly empty sources", 2000, 1, 3, 1},
      {"zero counts carried", 1000, 20, 2, 0},
      {"counts saturate", 400, 20, 0, uint64_t{1} << 62},
  };
  std::mt19937_64 rng(19);
  std::lognormal_distribution<double> latency(3.0, 1.0);
  for (const many_sources_case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<hist_ptr> owned;
    std::vector<const histogram *> sources;
    for (int i = 0; i < c.sources; ++i) {
      if (c.empty_every > 0 && i % c.empty_every != 0) {
        sources.push_back(i % 2 ? nullptr : owned.emplace_back(hist_alloc()).get());
        continue;
      }
      hist_ptr h(hist_alloc());
      for (int k = 0; k < c.samples; ++k) hist_insert(h.get(), latency(rng), c.count);
      sources.push_back(owned.emplace_back(std::move(h)).get());
    }
    const entries before{{one, 0, 1}, {55, 9, 0}, {-1, 0, 4}};
    const hist_ptr target = make(before, GetParam());
    const entries expected = pairwise_sum(before, sources);
    EXPECT_EQ(hist_accumulate(target.get(), sources.data(), c.sources), static_cast<int>(expected.size()));
    EXPECT_EQ(varrow_test::Contents(target.get()), expected);
    EXPECT_EQ(target->capacity, expected.size());
    ExpectConsistent(target.get());
  }
}

// The target among the sources: its previous contents count once there and
// once more as the target, with few sources and with many.
TEST_P(AccumulateManySources, TargetAmongThemCountsItsPreviousContents) {
  for (const int n : {3, 3000}) {
    SCOPED_TRACE(n);
    const entries before{{one, 0, 1}, {two, 0, 2}};
    const hist_ptr target = make(before, GetParam());
    const hist_ptr other = make({{two, 0, 1}, {three, 0, 5}});
    std::vector<const histogram *> sources(static_cast<size_t>(n), other.get());
    sources[1] = target.get();
    const hist_ptr twice_before = make(before);
    std::vector<const histogram *> expected_sources = sources;
    expected_sources[1] = twice_before.get();
    const entries expected = pairwise_sum(before, expected_sources);
    EXPECT_EQ(hist_accumulate(target.get(), sources.data(), n), static_cast<int>(expected.size()));
    EXPECT_EQ(varrow_test::Contents(target.get()), expected);
  }
}

void *failing_calloc(size_t, size_t) { return nullptr; }

// Without memory for the new entry array the call fails and the target keeps
// its array, counts and fast index, on the heap path and the dense one.
TEST_P(AccumulateManySources, FailedEntryArrayLeavesTargetUnchanged) {
  const hist_allocator no_calloc{std::malloc, failing_calloc, std::free};
  for (const int n : {1, 2000}) {
    SCOPED_TRACE(n);
    const entries before{{one, 0, 1}, {two, 0, 2}};
    const hist_ptr target = make(before, GetParam());
    const hist_ptr other = make({{two, 0, 1}, {three, 0, 5}});
    const std::vector<const histogram *> sources(static_cast<size_t>(n), other.get());
    const hist_bucket_entry *entries_before = target->entries;
    const int capacity_before = target->capacity;
    target->allocator = &no_calloc;
    EXPECT_EQ(hist_accumulate(target.get(), sources.data(), n), -1);
    target->allocator = &default_allocator;
    EXPECT_EQ(target->entries, entries_before);
    EXPECT_EQ(target->capacity, capacity_before);
    EXPECT_EQ(varrow_test::Contents(target.get()), before);
    ExpectConsistent(target.get());
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndFast, AccumulateManySources, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "fast" : "plain"; });

// All but the last of the 65,536 bit patterns of a bucket, dealt out to 20
// sources in turn: one call gives each pattern its own entry, in bucket order,
// invalid patterns included.
TEST(AccumulateManySourcesBuckets, EveryBitPatternKeepsItsPlace) {
  constexpr int source_count = 20;
  const std::vector<hist_bucket> patterns = varrow_test::RawBucketsInOrder(65535);
  std::vector<hist_ptr> owned;
  for (int i = 0; i < source_count; ++i) owned.emplace_back(hist_alloc());
  for (size_t i = 0; i < patterns.size(); ++i) hist_insert_raw_end(owned[i % source_count].get(), patterns[i], i);
  std::vector<const histogram *> sources;
  for (const hist_ptr &h : owned) sources.push_back(h.get());

  const hist_ptr target(hist_alloc());
  ASSERT_EQ(hist_accumulate(target.get(), sources.data(), source_count), 65535);
  const entries result = varrow_test::Contents(target.get());
  for (size_t i = 0; i < patterns.size(); ++i)
    ASSERT_EQ(result[i], (entry{patterns[i].val, patterns[i].exp, i})) << i;
}

// Every one of the 65,536 bit patterns of a bucket: one histogram holds all
// but one, another the last.  Their union cannot be held in 16 bits, whether
// the last comes once (the heap merge) or in many copies (the dense table).
TEST(AccumulateLimits, ResultBeyondEntryLimitIsRefused) {
  const std::vector<hist_bucket> all = varrow_test::RawBucketsInOrder(65536);
  // Raw insertions in bucket order append (a record would lose the invalid buckets).
  const hist_ptr most(hist_alloc());
  for (size_t i = 0; i + 1 < all.size(); ++i) hist_insert_raw_end(most.get(), all[i], 1);
  ASSERT_EQ(hist_bucket_count(most.get()), 65535);
  const hist_ptr last = make({{all.back().val, all.back().exp, uint64_t{1}}});

  for (const int copies : {1, 100}) {
    SCOPED_TRACE(copies);
    const std::vector<const histogram *> sources(static_cast<size_t>(copies), last.get());
    EXPECT_EQ(hist_accumulate(most.get(), sources.data(), copies), -1);
    EXPECT_EQ(hist_bucket_count(most.get()), 65535);
    EXPECT_EQ(hist_sample_count(most.get()), 65535u);
  }
}

// ---- hist_subtract ------------------------------------------------------------

struct subtract_case {
  const char *name;
  entries target;
  std::vector<entries> sources;
  int status;
  entries expected;
};

TEST(Subtract, Table) {
  const std::vector<subtract_case> cases{
      {"exact", {{one, 0, 5}, {two, 0, 3}}, {{{one, 0, 2}}}, 0, {{one, 0, 3}, {two, 0, 3}}},
      {"clamped at zero", {{one, 0, 3}}, {{{one, 0, 5}}}, -1, {{one, 0, 0}}},
      {"bucket missing in target", {{one, 0, 7}}, {{{two, 0, 4}}}, -1, {{one, 0, 7}}},
      {"missing bucket without samples", {{one, 0, 7}}, {{{two, 0, 0}}}, 0, {{one, 0, 7}}},
      {"source beyond the target's end", {{one, 0, 7}}, {{{one, 0, 1}, {three, 0, 2}}}, -1, {{one, 0, 6}}},
      {"no sources", {{one, 0, 7}}, {}, 0, {{one, 0, 7}}},
      {"only null sources", {{one, 0, 7}}, {{}, {}}, 0, {{one, 0, 7}}},
      {"empty target", {}, {{{one, 0, 1}}}, -1, {}},
      // The status stays -1 and every later bucket and source is still applied.
      {"walk goes on after a shortfall",
       {{-one, 0, 1}, {one, 0, 9}, {two, 0, 9}},
       {{{-one, 0, 4}, {one, 0, 2}}, {{two, 0, 5}, {three, 0, 1}}, {{one, 0, 3}}},
       -1,
       {{-one, 0, 0}, {one, 0, 4}, {two, 0, 4}}},
  };
  for (const bool fast : {false, true}) {
    for (const subtract_case &c : cases) {
      SCOPED_TRACE(c.name);
      const hist_ptr target = make(c.target, fast);
      std::vector<hist_ptr> owned;
      std::vector<const histogram *> sources;
      for (const entries &es : c.sources) {
        owned.push_back(es.empty() ? nullptr : make(es));
        sources.push_back(owned.back().get());
      }
      EXPECT_EQ(hist_subtract(target.get(), sources.data(), static_cast<int>(sources.size())), c.status);
      EXPECT_EQ(varrow_test::Contents(target.get()), c.expected);
      ExpectConsistent(target.get());
    }
  }
}

TEST(Subtract, FromCloneOfItselfLeavesZeroes) {
  const hist_ptr h = make({{-one, 2, 4}, {0, 0, 1}, {one, 0, max_count}, {-1, 0, 3}}, true);
  const hist_ptr clone(hist_clone(h.get()));
  const histogram *sources[] = {h.get()};
  EXPECT_EQ(hist_subtract(clone.get(), sources, 1), 0);
  EXPECT_EQ(varrow_test::Contents(clone.get()), (entries{{-1, 0, 0}, {-one, 2, 0}, {0, 0, 0}, {one, 0, 0}}));
  ExpectConsistent(clone.get());
}

// ---- _as_int64 ----------------------------------------------------------------

using int64_operation = int (*)(histogram *, const histogram *);

struct delta_case {
  const char *name;
  int64_operation op;
  entries target;
  entries source;
  int status;
  entries expected;
};

TEST(AsInt64, Table) {
  const std::vector<delta_case> cases{
      {"subtract absent bucket wraps below zero", hist_subtract_as_int64, {}, {{one, 0, 5}}, 0, {{one, 0, max_count - 4}}},
      {"add a positive delta", hist_add_as_int64, {{one, 0, 5}}, {{one, 0, 4}}, 0, {{one, 0, 9}}},
      {"add a negative delta in range", hist_add_as_int64, {{one, 0, 5}}, {{one, 0, uint64_t{0} - 3}}, 0, {{one, 0, 2}}},
      {"add a negative delta to exactly zero drops the entry", hist_add_as_int64, {{one, 0, 5}, {two, 0, 1}},
       {{one, 0, uint64_t{0} - 5}}, 0, {{two, 0, 1}}},
      {"add a negative delta below zero", hist_add_as_int64, {{one, 0, 2}}, {{one, 0, uint64_t{0} - 5}}, -1,
       {{one, 0, max_count - 2}}},
      {"add past the top", hist_add_as_int64, {{one, 0, max_count}}, {{one, 0, 1}}, -1, {{one, 0, 0}}},
      {"add the most negative delta", hist_add_as_int64, {{one, 0, half}}, {{one, 0, half}}, 0, {}},
      {"add the most negative delta to less", hist_add_as_int64, {{one, 0, half - 1}}, {{one, 0, half}}, -1,
       {{one, 0, max_count}}},
      {"subtract to exactly -2^63", hist_subtract_as_int64, {}, {{one, 0, half}}, -1, {{one, 0, half}}},
      {"subtract to -2^63 + 1", hist_subtract_as_int64, {{one, 0, 1}}, {{one, 0, half}}, 0, {{one, 0, half + 1}}},
      {"subtract within range", hist_subtract_as_int64, {{one, 0, 9}}, {{one, 0, 4}}, 0, {{one, 0, 5}}},
      {"success drops every zero-count entry", hist_subtract_as_int64, {{-one, 0, 0}, {one, 0, 4}, {three, 0, 0}},
       {{one, 0, 1}}, 0, {{one, 0, 3}}},
      {"failure keeps zero-count entries, inserted ones too", hist_add_as_int64, {{one, 0, 0}, {three, 0, max_count}},
       {{two, 0, 0}, {three, 0, 1}}, -1, {{one, 0, 0}, {two, 0, 0}, {three, 0, 0}}},
      {"inserted buckets land in order", hist_add_as_int64, {{two, 0, 1}},
       {{-one, 0, 1}, {one, 0, 2}, {three, 0, 3}, {three, 1, 4}}, 0,
       {{-one, 0, 1}, {one, 0, 2}, {two, 0, 1}, {three, 0, 3}, {three, 1, 4}}},
  };
  for (const bool fast : {false, true}) {
    for (const delta_case &c : cases) {
      SCOPED_TRACE(c.name);
      const hist_ptr target = make(c.target, fast);
      const hist_ptr source = make(c.source);
      EXPECT_EQ(c.op(target.get(), source.get()), c.status);
      EXPECT_EQ(varrow_test::Contents(target.get()), c.expected);
      ExpectConsistent(target.get());
    }
  }
}

TEST(AsInt64, SubtractThenAddBackWrapsToZeroWithFailure) {
  const hist_ptr target = make({});
  const hist_ptr source = make({{one, 0, 5}});
  EXPECT_EQ(hist_subtract_as_int64(target.get(), source.get()), 0);
  EXPECT_EQ(varrow_test::Contents(target.get()), (entries{{one, 0, max_count - 4}}));
  EXPECT_EQ(hist_add_as_int64(target.get(), source.get()), -1);
  EXPECT_EQ(varrow_test::Contents(target.get()), (entries{{one, 0, 0}}));
}

TEST(AsInt64, NullSourceChangesNothing) {
  for (const int64_operation op : {hist_add_as_int64, hist_subtract_as_int64}) {
    const hist_ptr target = make({{one, 0, 0}, {two, 0, 3}});
    EXPECT_EQ(op(target.get(), nullptr), 0);
    EXPECT_EQ(varrow_test::Contents(target.get()), (entries{{one, 0, 0}, {two, 0, 3}}));
  }
}

TEST(AsInt64, GrowsAFullTargetByOneStep) {
  const hist_ptr target(hist_alloc_nbins(2));
  hist_insert_raw(target.get(), BucketOf(one, 0), 1);
  hist_insert_raw(target.get(), BucketOf(three, 0), 1);
  ASSERT_EQ(target->capacity, 2);
  const hist_ptr source = make({{two, 0, 1}, {40, 0, 1}});
  EXPECT_EQ(hist_add_as_int64(target.get(), source.get()), 0);
  EXPECT_EQ(target->capacity, 102);
  EXPECT_EQ(varrow_test::Contents(target.get()), (entries{{one, 0, 1}, {two, 0, 1}, {three, 0, 1}, {40, 0, 1}}));
}

// Every one of the 65,536 bucket bit patterns, in bucket order.
std::vector<hist_bucket> EveryBucket() {
  std::vector<hist_bucket> all;
  for (int val = INT8_MIN; val <= INT8_MAX; ++val)
    for (int exp = INT8_MIN; exp <= INT8_MAX; ++exp) all.push_back(BucketOf(val, exp));
  std::sort(all.begin(), all.end(), [](hist_bucket a, hist_bucket b) { return hist_bucket_compare(a, b) < 0; });
  return all;
}

// The 65,535-entry limit is checked before anything changes: a source with
// more new buckets than fit leaves the target as it was; one that fills the
// last entry is applied.
TEST(AsInt64, EntryLimit) {
  const std::vector<hist_bucket> all = EveryBucket();
  const int limit = UINT16_MAX;
  const struct {
    const char *name;
    std::vector<hist_bucket> source;
    int status;
    int used;
  } cases[] = {
      {"one past the limit", {all[0], all[1], all[5]}, -1, limit - 1},
      {"at the limit", {all[1], all[5]}, 0, limit},
  };
  for (const bool fast : {false, true}) {
    // Every bucket but the first two.
    const hist_ptr full(fast ? hist_fast_alloc() : hist_alloc());
    for (std::size_t i = 2; i < all.size(); ++i) hist_insert_raw_end(full.get(), all[i], 1);
    ASSERT_EQ(full->used, limit - 1);
    for (const int64_operation op : {hist_add_as_int64, hist_subtract_as_int64}) {
      for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const hist_ptr target(hist_clone(full.get()));
        const hist_ptr source(hist_alloc());
        for (const hist_bucket b : c.source) hist_insert_raw(source.get(), b, 2);
        EXPECT_EQ(op(target.get(), source.get()), c.status);
        EXPECT_EQ(target->used, c.used);
        int pos = -1;
        EXPECT_EQ(hist_internal_find(target.get(), all[1], &pos), c.status == 0 ? 1 : 0);
        EXPECT_EQ(hist_internal_find(target.get(), all[0], &pos), 0);
        ExpectConsistent(target.get());
      }
    }
  }
}

}  // namespace
