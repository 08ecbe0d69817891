// Allocator failures: every operation that allocates for a histogram, failed
// at each of its allocations in turn, reports its failure value and leaves
// the histogram as it was (a failed read: empty), with an index that still
// finds every bucket and no other, and works again once memory is back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "histogram/varrow.h"
#include "tests/histogram_test_support.hpp"

namespace {

using varrow_test::At;
using varrow_test::BucketOf;
using varrow_test::Contents;
using varrow_test::Entries;
using varrow_test::ExpectConsistent;

// After arm(k), the k-th allocation (malloc or calloc) returns null; disarmed,
// none does.
struct FailingAllocator {
  static inline int calls = 0;
  static inline int fail_at = 0;
  static bool grant() { return ++calls != fail_at; }
  static void *failing_malloc(size_t size) { return grant() ? std::malloc(size) : nullptr; }
  static void *failing_calloc(size_t n, size_t size) { return grant() ? std::calloc(n, size) : nullptr; }
  static void arm(int k) {
    calls = 0;
    fail_at = k;
  }
  static void disarm() { fail_at = 0; }
  static constexpr hist_allocator allocator = {failing_malloc, failing_calloc, std::free};
};

struct hist_deleter {
  void operator()(histogram *h) const { hist_free(h); }
};
using hist_ptr = std::unique_ptr<histogram, hist_deleter>;

struct FailureCase {
  const char *name;
  Entries start;  // the histogram before the operation
  int nbins;      // its capacity
  std::function<int64_t(histogram *)> operation;
  int64_t failure;  // the operation's result when memory fails
  bool emptied;     // a failed read leaves the histogram empty, not unchanged
  bool allocates;   // in a fast histogram
  int survived = 0;  // the allocation, if any, whose failure another path makes up for
};

hist_ptr MakeWithFailingAllocator(const FailureCase &c, bool fast) {
  hist_ptr h(fast ? hist_fast_alloc_nbins_with_allocator(c.nbins, &FailingAllocator::allocator)
                  : hist_alloc_nbins_with_allocator(c.nbins, &FailingAllocator::allocator));
  varrow_test::Fill(h.get(), c.start);
  return h;
}

// No lookup finds a bucket of others that h does not hold: a stale index
// slot would claim it.
void ExpectOnlyHeld(const histogram *h, const Entries &others) {
  const Entries held = Contents(h);
  for (const auto &e : others) {
    if (std::find_if(held.begin(), held.end(), [&](const auto &x) {
          return std::get<0>(x) == std::get<0>(e) && std::get<1>(x) == std::get<1>(e);
        }) != held.end())
      continue;
    int pos = -1;
    EXPECT_EQ(hist_internal_find(h, BucketOf(e), &pos), 0) << std::get<0>(e) << "," << std::get<1>(e);
  }
}

// Sixteen sources of 64 buckets each, one decade apart: enough sources and
// entries for the dense merge.
std::vector<hist_ptr> DenseSources() {
  constexpr int sources = 16, buckets = 64, first_val = 10, first_exp = -8;
  std::vector<hist_ptr> out;
  for (int s = 0; s < sources; ++s) {
    hist_ptr h(hist_alloc());
    for (int v = 0; v < buckets; ++v) hist_insert_raw(h.get(), BucketOf(first_val + v, first_exp + s), 1);
    out.push_back(std::move(h));
  }
  return out;
}

std::vector<uint8_t> Serialized(const Entries &entries) {
  const hist_ptr h(hist_alloc());
  varrow_test::Fill(h.get(), entries);
  std::vector<uint8_t> out(static_cast<size_t>(hist_serialize_estimate(h.get())));
  hist_serialize(h.get(), out.data(), static_cast<ssize_t>(out.size()));
  return out;
}

std::string Base64(const std::vector<uint8_t> &record) {
  const hist_ptr h(hist_alloc());
  hist_deserialize(h.get(), record.data(), static_cast<ssize_t>(record.size()));
  std::string text(static_cast<size_t>(hist_serialize_b64_estimate(h.get())), '\0');
  text.resize(static_cast<size_t>(hist_serialize_b64(h.get(), text.data(), text.size())));
  return text;
}

TEST(AllocationFailure, EveryAllocationOfEveryOperation) {
  const Entries some{At(1.0, 1), At(2.0, 2), At(-3.0, 3)};
  const Entries with_zeroes{At(1.0, 0), At(2.0, 2), At(4e7, 0), At(-3e-9, 5)};
  const hist_ptr merge_source(hist_alloc());
  varrow_test::Fill(merge_source.get(), {At(3e5, 1), At(-4e-7, 2), At(2.0, 5), At(7e30, 1)});
  const std::vector<hist_ptr> dense = DenseSources();
  std::vector<const histogram *> dense_list;
  for (const hist_ptr &h : dense) dense_list.push_back(h.get());
  const std::vector<uint8_t> record = Serialized({At(5e-3, 1), At(1.0, 2), At(6e12, 3), At(-8e40, 4)});
  // White space pads the text past the reader's scratch in the caller's frame.
  const std::string long_text = Base64(record) + std::string(10000, ' ');
  // Signed deltas: buckets new to the target on pages of their own, one
  // shared, and one that takes a bucket of the target to zero.
  const hist_ptr delta_source(hist_alloc());
  varrow_test::Fill(delta_source.get(), {At(-3.0, uint64_t{0} - 3), At(5e-7, 2), At(1.0, 4), At(8e9, 1), At(3e21, 6)});

  const FailureCase cases[] = {
      {"insert with room", some, 0, [](histogram *h) { return int64_t(hist_insert(h, 5e10, 3)); }, 0, false, true},
      {"insert into a full array", some, 3, [](histogram *h) { return int64_t(hist_insert(h, 7e-5, 1)); }, 0,
       false, true},
      {"insert into a full array, known page", some, 3, [](histogram *h) { return int64_t(hist_insert(h, 1.5, 1)); },
       0, false, true},
      {"insert at the end", some, 0,
       [](histogram *h) { return int64_t(hist_insert_raw_end(h, double_to_hist_bucket(9e20), 4)); }, 0, false, true},
      {"accumulate, heap", some, 0,
       [&](histogram *h) {
         const histogram *src[] = {merge_source.get(), h};
         return int64_t(hist_accumulate(h, src, 2));
       },
       -1, false, true},
      {"accumulate, dense", some, 0,
       [&](histogram *h) { return int64_t(hist_accumulate(h, dense_list.data(), static_cast<int>(dense_list.size()))); },
       -1, false, true, 1},  // without the table, the heap merge
      {"deserialize", some, 0,
       [&](histogram *h) { return int64_t(hist_deserialize(h, record.data(), static_cast<ssize_t>(record.size()))); },
       -1, true, true},
      {"deserialize add", some, 0,
       [&](histogram *h) { return int64_t(hist_deserialize_add(h, record.data(), static_cast<ssize_t>(record.size()))); },
       -1, false, true},
      {"deserialize add into a full array", some, 3,
       [&](histogram *h) { return int64_t(hist_deserialize_add(h, record.data(), static_cast<ssize_t>(record.size()))); },
       -1, false, true},
      {"base64 add, text beyond the local scratch", some, 0,
       [&](histogram *h) { return int64_t(hist_deserialize_b64_add(h, long_text.data(), long_text.size())); }, -1,
       false, true},
      {"add as int64 with room", some, 0,
       [&](histogram *h) { return int64_t(hist_add_as_int64(h, delta_source.get())); }, -1, false, true},
      {"add as int64 into a full array", some, 3,
       [&](histogram *h) { return int64_t(hist_add_as_int64(h, delta_source.get())); }, -1, false, true},
      {"subtract as int64 into a full array", some, 3,
       [&](histogram *h) { return int64_t(hist_subtract_as_int64(h, delta_source.get())); }, -1, false, true},
      {"remove zeroes", with_zeroes, 0,
       [](histogram *h) {
         hist_remove_zeroes(h);
         return int64_t{0};
       },
       0, false, false},
  };
  for (const bool fast : {true, false}) {
    for (const FailureCase &c : cases) {
      SCOPED_TRACE(::testing::Message() << c.name << (fast ? ", fast" : ", plain"));
      FailingAllocator::disarm();
      const hist_ptr reference = MakeWithFailingAllocator(c, fast);
      const int64_t expected_result = c.operation(reference.get());
      const Entries expected = Contents(reference.get());
      for (int k = 1;; ++k) {
        SCOPED_TRACE(k);
        const hist_ptr h = MakeWithFailingAllocator(c, fast);
        const Entries before = Contents(h.get());
        FailingAllocator::arm(k);
        const int64_t result = c.operation(h.get());
        const bool failed = FailingAllocator::calls >= k;
        FailingAllocator::disarm();
        if (!failed || k == c.survived) {
          if (fast && !failed) {
            EXPECT_EQ(k > 1, c.allocates);
          }
          EXPECT_EQ(result, expected_result);
          EXPECT_EQ(Contents(h.get()), expected);
          ExpectConsistent(h.get());
          if (failed) continue;
          break;
        }
        EXPECT_EQ(result, c.failure);
        EXPECT_EQ(Contents(h.get()), c.emptied ? Entries{} : before);
        if (c.emptied) {
          EXPECT_EQ(h->capacity, 0);
        }
        ExpectConsistent(h.get());
        ExpectOnlyHeld(h.get(), expected);
        // With memory back, the same operation gives the undisturbed result.
        EXPECT_EQ(c.operation(h.get()), expected_result);
        EXPECT_EQ(Contents(h.get()), expected);
        ExpectConsistent(h.get());
      }
    }
  }
}

// Creating or cloning with a failing allocator gives NULL at each of its
// allocations in turn, without a crash or a leak (the sanitizer build checks
// the latter), and the full result once memory is back.
TEST(AllocationFailure, CreateAndCloneReturnNull) {
  const Entries start = {{10, -3, 4}, {25, 0, 1}, {-47, 2, 9}, {99, 40, 2}};
  for (const bool fast : {false, true}) {
    SCOPED_TRACE(fast ? "fast" : "plain");
    const auto create = [fast] {
      return hist_ptr(fast ? hist_fast_alloc_with_allocator(&FailingAllocator::allocator)
                           : hist_alloc_with_allocator(&FailingAllocator::allocator));
    };
    for (int k = 1;; ++k) {
      FailingAllocator::arm(k);
      const hist_ptr h = create();
      const bool failed = FailingAllocator::calls >= k;
      FailingAllocator::disarm();
      if (!failed) {
        ASSERT_NE(h, nullptr);
        break;
      }
      EXPECT_EQ(h, nullptr) << k;
    }
    const hist_ptr source = create();
    varrow_test::Fill(source.get(), start);
    for (int k = 1;; ++k) {
      FailingAllocator::arm(k);
      const hist_ptr copy(hist_clone_with_allocator(source.get(), &FailingAllocator::allocator));
      const bool failed = FailingAllocator::calls >= k;
      FailingAllocator::disarm();
      if (!failed) {
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(Contents(copy.get()), Contents(source.get()));
        ExpectConsistent(copy.get());
        break;
      }
      EXPECT_EQ(copy, nullptr) << k;
    }
  }
}

// Each histogram that an operation derives from others is NULL at each of
// its allocations in turn, and whole once memory is back.
TEST(AllocationFailure, DerivedHistogramsReturnNull) {
  const hist_ptr source(hist_fast_alloc());
  varrow_test::Fill(source.get(), {{10, -3, 4}, {25, 0, 1}, {-47, 2, 9}, {99, 40, 2}});
  const hist_adhoc_bin bins[] = {{3, 0, 1}, {4, 1, 2}, {5, 2, 1e300}};
  const std::function<histogram *()> derive[] = {
      [&] { return hist_compress_mbe_with_allocator(source.get(), 0, &FailingAllocator::allocator); },
      [&] { return hist_compress_mbe_with_allocator(nullptr, 0, &FailingAllocator::allocator); },
      [&] { return hist_create_approximation_from_adhoc_with_allocator(HIST_ADHOC_HARMONIC_MID, bins, 3,
                                                                        &FailingAllocator::allocator); },
  };
  const Entries expected[] = {Contents(hist_ptr(hist_compress_mbe(source.get(), 0)).get()), {},
                              Contents(hist_ptr(hist_create_approximation_from_adhoc(HIST_ADHOC_HARMONIC_MID, bins, 3)).get())};
  for (size_t d = 0; d < std::size(derive); ++d) {
    SCOPED_TRACE(d);
    for (int k = 1;; ++k) {
      FailingAllocator::arm(k);
      const hist_ptr h(derive[d]());
      const bool failed = FailingAllocator::calls >= k;
      FailingAllocator::disarm();
      if (failed) {
        EXPECT_EQ(h, nullptr) << k;
        continue;
      }
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(Contents(h.get()), expected[d]);
      break;
    }
  }
}

struct recorder_deleter {
  void operator()(hist_recorder *r) const { hist_recorder_free(r); }
};
using recorder_ptr = std::unique_ptr<hist_recorder, recorder_deleter>;

// A snapshot that fails for want of memory, the recorder's or the target's,
// neither changes the target nor ends the interval: the next one reports
// every sample, once.
TEST(AllocationFailure, FailedSnapshotKeepsTheInterval) {
  const Entries held{At(7e-3, 4), At(2.0, 1)};
  const double values[] = {2.0, 3e5, -4e-7, 9e40, 2.0};
  for (int k = 1;; ++k) {
    SCOPED_TRACE(k);
    FailingAllocator::disarm();
    const recorder_ptr r(hist_recorder_alloc_with_allocator(&FailingAllocator::allocator));
    for (const double v : values) ASSERT_EQ(hist_recorder_insert(r.get(), v, 3), 3u);
    const hist_ptr out(hist_fast_alloc_nbins_with_allocator(2, &FailingAllocator::allocator));
    varrow_test::Fill(out.get(), held);
    FailingAllocator::arm(k);
    const int status = hist_recorder_snapshot(r.get(), out.get(), 1);
    const bool failed = FailingAllocator::calls >= k;
    FailingAllocator::disarm();
    if (failed) {
      EXPECT_EQ(status, -1);
      EXPECT_EQ(Contents(out.get()), held);
      ExpectConsistent(out.get());
      ASSERT_EQ(hist_recorder_snapshot(r.get(), out.get(), 1), 0);
    } else {
      EXPECT_EQ(status, 0);
    }
    const hist_ptr expected(hist_alloc());
    varrow_test::Fill(expected.get(), held);
    for (const double v : values) hist_insert(expected.get(), v, 3);
    EXPECT_EQ(Contents(out.get()), Contents(expected.get()));
    ExpectConsistent(out.get());
    // The interval ended with the successful snapshot: nothing is left.
    const hist_ptr rest(hist_alloc());
    ASSERT_EQ(hist_recorder_snapshot(r.get(), rest.get(), 1), 0);
    EXPECT_EQ(hist_bucket_count(rest.get()), 0);
    if (!failed) break;
  }
}

}  // namespace
