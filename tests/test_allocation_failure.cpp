// Allocator failures: every operation that allocates for a histogram, failed
// at each of its allocations in turn, reports its failure value and leaves
// the histogram as it was (a failed read: empty), with an index that still
// finds every bucket and no other, and works again once memory is back.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
// none does.  Paused, allocations are neither counted nor failed.  live
// counts the blocks handed out and not yet freed.
struct FailingAllocator {
  static inline int calls = 0;
  static inline int fail_at = 0;
  static inline bool paused = false;
  static inline long live = 0;
  static bool grant() { return paused || ++calls != fail_at; }
  static void *counted(void *block) {
    if (block != nullptr) ++live;
    return block;
  }
  static void *failing_malloc(size_t size) { return grant() ? counted(std::malloc(size)) : nullptr; }
  static void *failing_calloc(size_t n, size_t size) { return grant() ? counted(std::calloc(n, size)) : nullptr; }
  static void counting_free(void *block) {
    if (block != nullptr) --live;
    std::free(block);
  }
  static void arm(int k) {
    calls = 0;
    fail_at = k;
  }
  static void disarm() { fail_at = 0; }
  static constexpr hist_allocator allocator = {failing_malloc, failing_calloc, counting_free};
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

// ---- A sequence of every operation, failed at each of its allocations ----

// The histograms and the recorder that the sequence builds, all from the
// failing allocator.
struct World {
  enum slot { plain, fast, clone, compressed, adhoc, exponential, explicit_bounds, slots };
  std::array<histogram *, slots> h{};
  hist_recorder *recorder = nullptr;
  World() = default;
  World(const World &) = delete;
  World &operator=(const World &) = delete;
  ~World() {
    for (histogram *x : h) hist_free(x);
    hist_recorder_free(recorder);
  }
  std::vector<Entries> contents() const {
    std::vector<Entries> out;
    for (const histogram *x : h) out.push_back(x != nullptr ? Contents(x) : Entries{});
    return out;
  }
};

// How an operation that lost an allocation leaves the histograms: as they
// were; or, for a replacing read, its target as it was or empty.
enum class FailureKind { unchanged, target_emptied };

struct Step {
  const char *name;
  std::function<int64_t(World &)> run;
  int64_t failure;  // the result that reports the missing memory
  FailureKind kind = FailureKind::unchanged;
  int target = -1;  // the slot that kind speaks of
  bool may_survive = false;  // another path makes up for one failed allocation
};

// A histogram as it was, rebuilt without counting or failing allocations.
void Restore(histogram *h, const Entries &entries) {
  FailingAllocator::paused = true;
  hist_clear(h);
  varrow_test::Fill(h, entries);
  FailingAllocator::paused = false;
}

// Each histogram reads back from its record to the same buckets (those a
// record holds: counts not 0), with an index that finds every bucket.
void ExpectReadsBack(const histogram *h) {
  FailingAllocator::paused = true;
  ExpectConsistent(h);
  std::vector<uint8_t> record(static_cast<size_t>(hist_serialize_estimate(h)));
  ASSERT_EQ(hist_serialize(h, record.data(), static_cast<ssize_t>(record.size())), static_cast<ssize_t>(record.size()));
  const hist_ptr back(hist_alloc());
  ASSERT_EQ(hist_deserialize(back.get(), record.data(), static_cast<ssize_t>(record.size())),
            static_cast<ssize_t>(record.size()));
  Entries stored;
  for (const auto &e : Contents(h))
    if (std::get<2>(e) != 0 && (hist_bucket_is_valid(BucketOf(e)) || hist_bucket_identical(BucketOf(e), hist_nan_bucket)))
      stored.push_back(e);
  EXPECT_EQ(Contents(back.get()), stored);
  FailingAllocator::paused = false;
}

// What the sequence reads and merges from, made with the C library's allocator.
struct Inputs {
  hist_ptr merge_source{hist_alloc()};
  hist_ptr delta_source{hist_alloc()};
  std::vector<hist_ptr> dense;
  std::vector<const histogram *> dense_list;
  std::vector<const histogram *> many_sources;
  std::vector<uint8_t> record;
  std::vector<uint8_t> broken_record{0, 2, 0x0a, 0, 0, 1, 0x14};
  std::string long_text;
  std::vector<hist_adhoc_bin> bins{{3, 0, 1}, {4, 1, 2}, {5, 2, 1e300}};
  std::vector<uint64_t> positive_counts{1, 0, 4, 2};
  hist_exponential exponential{};
  std::vector<double> bounds{0.001, 0.01, 0.1, 1.0};
  std::vector<uint64_t> bound_counts{1, 2, 3, 4, 5};
  std::string text_out;

  Inputs() {
    varrow_test::Fill(merge_source.get(), {At(3e5, 1), At(-4e-7, 2), At(2.0, 5), At(7e30, 1)});
    varrow_test::Fill(delta_source.get(), {At(-3.0, 3), At(5e-7, 2), At(1.0, 4), At(8e9, 1), At(3e21, 6)});
    // Sixteen sources of 128 buckets, one decade apart: the dense merge, and a
    // record past the text writer's scratch in the caller's frame.
    constexpr int sources = 16, buckets = 128, first_exp = -8;
    for (int s = 0; s < sources; ++s) {
      hist_ptr h(hist_alloc());
      for (int v = 0; v < buckets; ++v) hist_insert_raw(h.get(), BucketOf(10 + v % 90, first_exp + 2 * s + v / 90), 1);
      dense_list.push_back(h.get());
      dense.push_back(std::move(h));
    }
    // More sources than the merge keeps on the stack, too few entries for the table.
    many_sources.assign(1100, nullptr);
    many_sources[7] = merge_source.get();
    record = Serialized({At(5e-3, 1), At(1.0, 2), At(6e12, 3), At(-8e40, 4)});
    long_text = Base64(record) + std::string(10000, ' ');
    exponential.scale = 2;
    exponential.zero_count = 3;
    exponential.positive = {-3, positive_counts.size(), positive_counts.data()};
  }
};

// Every operation that allocates, and the ones around them, in an order that
// reaches every allocation site of the library: the record and entry array of
// a new histogram, a fast index page (on insertion and in a clone), the first
// entry array of an emptied histogram and its growth, the merge's working
// memory on the heap and its dense table, the merged and the grown entry
// arrays, the reader's entry array, the text scratch of both directions, and
// the recorder's record, shard, count pages, reported pages and the
// snapshot's working arrays; besides the results made from bins, exponential
// and explicit-bound histograms, compression and clones.
std::vector<Step> Sequence(Inputs &in) {
  using W = World;
  const hist_allocator *a = &FailingAllocator::allocator;
  const auto created = [](histogram *&slot, histogram *made) {
    slot = made;
    return int64_t{made != nullptr};
  };
  return {
      {"create plain", [=](W &w) { return created(w.h[W::plain], hist_alloc_nbins_with_allocator(1, a)); }, 0},
      {"create fast", [=](W &w) { return created(w.h[W::fast], hist_fast_alloc_nbins_with_allocator(1, a)); }, 0},
      {"insert into room", [](W &w) { return int64_t(hist_insert(w.h[W::plain], 1.0, 1)); }, 0},
      {"insert, growing", [](W &w) { return int64_t(hist_insert(w.h[W::plain], 2.5, 3)); }, 0},
      {"insert, new page", [](W &w) { return int64_t(hist_insert(w.h[W::fast], 1.0, 1)); }, 0},
      {"insert at the end", [](W &w) { return int64_t(hist_insert_raw_end(w.h[W::fast], double_to_hist_bucket(9e20), 4)); },
       0},
      {"insert scaled", [](W &w) { return int64_t(hist_insert_intscale(w.h[W::plain], 12345, -3, 2)); }, 0},
      {"insert corrected", [](W &w) { return int64_t(hist_insert_corrected(w.h[W::fast], 250.0, 1.0, 1)); }, 0},
      {"remove", [](W &w) { return int64_t(hist_remove(w.h[W::plain], 2.5, 1)); }, 0},
      {"accumulate", [&in](W &w) {
         const histogram *src[] = {in.merge_source.get(), w.h[W::plain]};
         return int64_t(hist_accumulate(w.h[W::plain], src, 2));
       }, -1},
      {"accumulate, dense", [&in](W &w) {
         return int64_t(hist_accumulate(w.h[W::fast], in.dense_list.data(), static_cast<int>(in.dense_list.size())));
       }, -1, FailureKind::unchanged, -1, true},
      {"accumulate, many sources", [&in](W &w) {
         return int64_t(hist_accumulate(w.h[W::plain], in.many_sources.data(), static_cast<int>(in.many_sources.size())));
       }, -1},
      {"subtract", [&in](W &w) {
         const histogram *src[] = {in.merge_source.get()};
         return int64_t(hist_subtract(w.h[W::plain], src, 1));
       }, -1},
      {"add as int64", [&in](W &w) { return int64_t(hist_add_as_int64(w.h[W::fast], in.delta_source.get())); }, -1},
      {"subtract as int64", [&in](W &w) { return int64_t(hist_subtract_as_int64(w.h[W::plain], in.delta_source.get())); },
       -1},
      {"clamp", [](W &w) {
         hist_clamp(w.h[W::fast], -1e30, 1e30);
         return int64_t{0};
       }, 0},
      {"downsample", [](W &w) {
         hist_downsample(w.h[W::plain], 0.5);
         return int64_t{0};
       }, 0},
      {"remove zeroes", [](W &w) {
         hist_remove_zeroes(w.h[W::plain]);
         return int64_t{0};
       }, 0},
      {"clone", [=](W &w) { return created(w.h[W::clone], hist_clone_with_allocator(w.h[W::fast], a)); }, 0},
      {"compress", [=](W &w) { return created(w.h[W::compressed], hist_compress_mbe_with_allocator(w.h[W::fast], 0, a)); },
       0},
      {"from bins", [=, &in](W &w) {
         return created(w.h[W::adhoc], hist_create_approximation_from_adhoc_with_allocator(
                                             HIST_ADHOC_HARMONIC_MID, in.bins.data(), in.bins.size(), a));
       }, 0},
      {"from exponential", [=, &in](W &w) { return created(w.h[W::exponential], hist_from_exponential(&in.exponential, a)); },
       0},
      {"from explicit bounds", [=, &in](W &w) {
         return created(w.h[W::explicit_bounds],
                        hist_from_explicit_bounds(in.bounds.data(), in.bounds.size(), in.bound_counts.data(),
                                                  in.bound_counts.size(), a));
       }, 0},
      {"write long text", [&in](W &w) {
         in.text_out.assign(static_cast<size_t>(hist_serialize_b64_estimate(w.h[W::fast])), '\0');
         return int64_t(hist_serialize_b64(w.h[W::fast], in.text_out.data(), in.text_out.size()));
       }, -1},
      {"read long text", [&in](W &w) {
         return int64_t(hist_deserialize_b64(w.h[W::clone], in.long_text.data(), in.long_text.size()));
       }, -1, FailureKind::target_emptied, W::clone},
      {"read record", [&in](W &w) {
         return int64_t(hist_deserialize(w.h[W::compressed], in.record.data(), static_cast<ssize_t>(in.record.size())));
       }, -1, FailureKind::target_emptied, W::compressed},
      {"read broken record", [&in](W &w) {
         return int64_t(hist_deserialize(w.h[W::adhoc], in.broken_record.data(),
                                         static_cast<ssize_t>(in.broken_record.size())));
       }, -1, FailureKind::target_emptied, W::adhoc},
      {"insert corrected, first array", [](W &w) {
         return int64_t(hist_insert_corrected(w.h[W::adhoc], 3e-3, 1e-3, 2));
       }, 0},
      {"read another broken record", [&in](W &w) {
         return int64_t(hist_deserialize(w.h[W::compressed], in.broken_record.data(),
                                         static_cast<ssize_t>(in.broken_record.size())));
       }, -1, FailureKind::target_emptied, W::compressed},
      {"insert, first array", [](W &w) { return int64_t(hist_insert(w.h[W::compressed], 4.0, 2)); }, 0},
      {"add record", [&in](W &w) {
         return int64_t(hist_deserialize_add(w.h[W::fast], in.record.data(), static_cast<ssize_t>(in.record.size())));
       }, -1},
      {"add long text", [&in](W &w) {
         return int64_t(hist_deserialize_b64_add(w.h[W::plain], in.long_text.data(), in.long_text.size()));
       }, -1},
      {"create recorder", [=](W &w) {
         w.recorder = hist_recorder_alloc_with_allocator(a);
         return int64_t{w.recorder != nullptr};
       }, 0},
      {"record, first shard", [](W &w) { return int64_t(hist_recorder_insert(w.recorder, 2.0, 3)); }, 0},
      {"record, new page", [](W &w) { return int64_t(hist_recorder_insert(w.recorder, 3e5, 1)); }, 0},
      {"record scaled", [](W &w) { return int64_t(hist_recorder_insert_intscale(w.recorder, 7, -9, 2)); }, 0},
      {"record corrected", [](W &w) { return int64_t(hist_recorder_insert_corrected(w.recorder, 4e3, 7.0, 1)); }, 0},
      {"snapshot", [](W &w) { return int64_t(hist_recorder_snapshot(w.recorder, w.h[W::exponential], 1)); }, -1},
      {"record again", [](W &w) { return int64_t(hist_recorder_insert(w.recorder, -4e-7, 2)); }, 0},
      {"snapshot, keeping the interval", [](W &w) { return int64_t(hist_recorder_snapshot(w.recorder, w.h[W::plain], 0)); },
       -1},
      {"snapshot into a full array", [](W &w) {
         return int64_t(hist_recorder_snapshot(w.recorder, w.h[W::explicit_bounds], 1));
       }, -1},
  };
}

// The sequence run with the k-th allocation failed (k = 0: none): every
// step either gives the undisturbed result or reports the failure, leaving
// the histograms as its kind allows, and then, with memory back, gives the
// undisturbed result; every histogram reads back after every step; nothing
// is left allocated at the end.  Returns the number of allocations made.
struct Reference {
  std::vector<int64_t> results;
  std::vector<std::vector<Entries>> contents;
};

int RunSequence(int k, Reference &reference) {
  Inputs in;
  const std::vector<Step> steps = Sequence(in);
  const bool recording = k == 0;
  srand48(20261210);
  FailingAllocator::live = 0;
  FailingAllocator::arm(k);
  {
    World w;
    for (size_t i = 0; i < steps.size(); ++i) {
      const Step &step = steps[i];
      SCOPED_TRACE(step.name);
      const std::vector<Entries> before = w.contents();
      const int calls_before = FailingAllocator::calls;
      int64_t result = step.run(w);
      if (recording && std::getenv("VARROW_TRACE_ALLOCATIONS") != nullptr)
        std::printf("%-32s %d allocations\n", step.name, FailingAllocator::calls - calls_before);
      const bool failed = k > calls_before && k <= FailingAllocator::calls;
      if (failed && !(step.may_survive && result == reference.results[i])) {
        const std::vector<Entries> after = w.contents();
        for (int s = 0; s < World::slots; ++s) {
          SCOPED_TRACE(s);
          if (s != step.target || step.kind == FailureKind::unchanged) {
            EXPECT_EQ(after[s], before[s]);
          } else {
            EXPECT_TRUE(after[s] == before[s] || after[s].empty());
          }
        }
        EXPECT_EQ(result, step.failure);
        for (int s = 0; s < World::slots; ++s)
          if (w.h[s] != nullptr) Restore(w.h[s], before[s]);
        result = step.run(w);
      }
      if (recording) {
        reference.results.push_back(result);
        reference.contents.push_back(w.contents());
      } else {
        EXPECT_EQ(result, reference.results[i]);
        EXPECT_EQ(w.contents(), reference.contents[i]);
      }
      for (const histogram *h : w.h)
        if (h != nullptr) ExpectReadsBack(h);
    }
  }
  FailingAllocator::disarm();
  EXPECT_EQ(FailingAllocator::live, 0) << "blocks left allocated";
  return FailingAllocator::calls;
}

TEST(AllocationFailure, EveryAllocationOfASequenceOfEveryOperation) {
  Reference reference;
  const int allocations = RunSequence(0, reference);
  ASSERT_GT(allocations, 0);
  for (int k = 1; k <= allocations; ++k) {
    SCOPED_TRACE(::testing::Message() << "allocation " << k << " of " << allocations);
    RunSequence(k, reference);
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
