// The thread-safe recorder: every thread counts into a shard of its own, so
// inserts never contend; a snapshot reads the shards' counts and reports
// what grew since the counts it last took.
//
// A shard holds one count per bucket, in pages indexed like the fast index
// (exp byte, then val byte).  Only the owning thread writes a count, with a
// plain load and store (atomic, so that the reader sees whole values);
// counts only grow, so the difference between two readings is exactly the
// samples recorded in between, and each sample is reported once.
#include <algorithm>
#include <atomic>
#include <new>

#include "hist_internal.hpp"

namespace {

using count_page = uint64_t[hist_fast_page_slots];

struct shard {
  const void *owner;  // the owning thread's token; a later thread may take over the shard of an exited one
  shard *next;
  count_page *pages[hist_fast_pages];     // written by the owner, published with release
  count_page *reported[hist_fast_pages];  // the counts reported so far; the snapshot's alone
  int taken_entries;                      // the snapshot's: this shard's entries in the current snapshot
};

// Unique per recorder ever made, so that a thread's cache cannot confuse a
// recorder with a later one at the same address.
std::atomic<uint64_t> recorder_serial{1};

// A thread's last recorder and its shard there.  Trivially destructible, so
// that no thread-exit hook of the C++ runtime is needed.
struct shard_cache {
  uint64_t serial;
  shard *s;
};
thread_local shard_cache cached_shard;

const void *thread_token() { return &cached_shard; }

count_page *load_page(count_page *&slot, std::memory_order order) {
  return std::atomic_ref<count_page *>(slot).load(order);
}

}  // namespace

struct hist_recorder {
  uint64_t serial;
  const hist_allocator *allocator;
  std::atomic<shard *> shards;
  std::atomic<bool> snapshotting;
};

namespace {

shard *find_or_add_shard(hist_recorder *r) {
  const void *me = thread_token();
  shard *head = r->shards.load(std::memory_order_acquire);
  for (shard *s = head; s; s = s->next)
    if (s->owner == me) return s;
  auto *s = static_cast<shard *>(r->allocator->calloc(1, sizeof(shard)));
  if (!s) return nullptr;
  s->owner = me;
  s->next = head;
  while (!r->shards.compare_exchange_weak(s->next, s, std::memory_order_release, std::memory_order_acquire)) {
  }
  return s;
}

shard *my_shard(hist_recorder *r) {
  shard_cache &c = cached_shard;
  if (c.serial == r->serial) [[likely]]
    return c.s;
  shard *s = find_or_add_shard(r);
  if (s) c = {r->serial, s};
  return s;
}

// The count of b in the calling thread's shard, its shard and page made on
// first use; NULL when memory is missing.
uint64_t *count_of(hist_recorder *r, hist_bucket b) {
  shard *s = my_shard(r);
  if (!s) return nullptr;
  count_page *&slot = s->pages[static_cast<uint8_t>(b.exp)];
  count_page *page = load_page(slot, std::memory_order_relaxed);
  if (!page) [[unlikely]] {
    page = static_cast<count_page *>(r->allocator->calloc(1, sizeof(count_page)));
    if (!page) return nullptr;
    std::atomic_ref<count_page *>(slot).store(page, std::memory_order_release);
  }
  return &(*page)[static_cast<uint8_t>(b.val)];
}

// Adds n (saturating) to the count of b in the calling thread's shard: the amount added.
uint64_t record(hist_recorder *r, hist_bucket b, uint64_t n) {
  uint64_t *held = count_of(r, b);
  if (!held) return 0;
  std::atomic_ref<uint64_t> count(*held);
  const hist_count_update update = hist_count_after_adding(count.load(std::memory_order_relaxed), n);
  count.store(update.count, std::memory_order_relaxed);
  return update.added;
}

// The pages of every bucket a correction reaches, made before a count
// changes, so that missing memory records nothing rather than a part.
bool reserve_correction(hist_recorder *r, double value, double interval, uint64_t count) {
  bool reserved = true;
  hist_record_corrected(value, interval, count, [&](hist_bucket b, uint64_t n) {
    reserved = reserved && count_of(r, b) != nullptr;
    return n;
  });
  return reserved;
}

// Makes sure every page of every shard has its page of reported counts, so
// that the snapshot cannot fail halfway.
bool prepare_reported(hist_recorder *r) {
  for (shard *s = r->shards.load(std::memory_order_acquire); s; s = s->next)
    for (int e = 0; e < hist_fast_pages; ++e) {
      if (s->reported[e] || !load_page(s->pages[e], std::memory_order_acquire)) continue;
      s->reported[e] = static_cast<count_page *>(r->allocator->calloc(1, sizeof(count_page)));
      if (!s->reported[e]) return false;
    }
  return true;
}

// Calls visit(s, e, v, now, reported) for every count of every shard from
// head on that has a page of reported counts: the snapshot's walk.
template <class Visit>
void for_each_count(shard *head, Visit visit) {
  for (shard *s = head; s; s = s->next)
    for (int e = 0; e < hist_fast_pages; ++e) {
      count_page *page = s->reported[e] ? load_page(s->pages[e], std::memory_order_acquire) : nullptr;
      if (!page) continue;
      uint64_t *reported = *s->reported[e];
      for (int v = 0; v < hist_fast_page_slots; ++v)
        visit(s, e, v, std::atomic_ref<uint64_t>((*page)[v]).load(std::memory_order_relaxed), reported[v]);
    }
}

hist_bucket bucket_of_slot(int e, int v) { return hist_bucket{static_cast<int8_t>(v), static_cast<int8_t>(e)}; }

// The counts that grew since they were last reported, in walk order: per
// shard its taken entries.  Counts that grow only after the first pass are
// left to the next snapshot when there is no room for them.
int take_growth(shard *head, hist_bucket_entry *taken, int room) {
  int filled = 0;
  for (shard *s = head; s; s = s->next) s->taken_entries = 0;
  for_each_count(head, [&](shard *s, int e, int v, uint64_t now, uint64_t reported) {
    if (now == reported || filled == room) return;
    taken[filled++] = hist_bucket_entry{bucket_of_slot(e, v), now - reported};
    ++s->taken_entries;
  });
  return filled;
}

// Marks the taken growth as reported: each shard's entries, in walk order,
// name its counts by their buckets.
void mark_reported(shard *head, const hist_bucket_entry *taken) {
  for (shard *s = head; s; s = s->next)
    for (int i = 0; i < s->taken_entries; ++i, ++taken) {
      const hist_bucket b = taken->bucket;
      (*s->reported[static_cast<uint8_t>(b.exp)])[static_cast<uint8_t>(b.val)] += taken->count;
    }
}

// Working memory for n entries from the histogram's allocator, released
// when it goes.
class entry_array {
 public:
  entry_array(int n, const hist_allocator *allocator)
      : allocator_(allocator),
        data_(static_cast<hist_bucket_entry *>(allocator->malloc(static_cast<size_t>(n) * sizeof(hist_bucket_entry)))) {}
  ~entry_array() { allocator_->free(data_); }
  entry_array(const entry_array &) = delete;
  entry_array &operator=(const entry_array &) = delete;
  hist_bucket_entry *data() const { return data_; }

 private:
  const hist_allocator *allocator_;
  hist_bucket_entry *data_;
};

// Adds the growth since the last report into out, all or nothing: the
// growth is taken into working memory, added up per bucket in a sorted copy
// and added into out in one step, and only then marked as reported.
bool report(hist_recorder *r, histogram *out, bool reset) {
  shard *const head = r->shards.load(std::memory_order_acquire);
  int grown = 0;
  for_each_count(head, [&](shard *, int, int, uint64_t now, uint64_t reported) { grown += now != reported; });
  if (grown == 0) return true;
  const entry_array taken(grown, out->allocator), sorted(grown, out->allocator);
  if (taken.data() == nullptr || sorted.data() == nullptr) return false;
  const int filled = take_growth(head, taken.data(), grown);
  std::copy(taken.data(), taken.data() + filled, sorted.data());
  const int distinct = hist_sort_and_merge_repeats(sorted.data(), filled);
  // More distinct buckets than a histogram holds cannot be added into out.
  if (distinct > hist_max_entries) return false;
  const histogram growth{static_cast<uint16_t>(distinct), static_cast<uint16_t>(distinct), 0, out->allocator,
                         sorted.data()};
  if (!hist_add_entries(out, growth)) return false;
  if (reset) mark_reported(head, taken.data());
  return true;
}

void free_pages(const hist_allocator *allocator, count_page **pages) {
  for (int e = 0; e < hist_fast_pages; ++e) allocator->free(pages[e]);
}

}  // namespace

extern "C" {

hist_recorder *hist_recorder_alloc_with_allocator(const hist_allocator *allocator) {
  void *memory = allocator->malloc(sizeof(hist_recorder));
  if (!memory) return nullptr;
  return new (memory)
      hist_recorder{recorder_serial.fetch_add(1, std::memory_order_relaxed), allocator, {nullptr}, {false}};
}

hist_recorder *hist_recorder_alloc(void) { return hist_recorder_alloc_with_allocator(&default_allocator); }

void hist_recorder_free(hist_recorder *r) {
  if (!r) return;
  const hist_allocator *allocator = r->allocator;
  for (shard *s = r->shards.load(std::memory_order_acquire); s;) {
    shard *next = s->next;
    free_pages(allocator, s->pages);
    free_pages(allocator, s->reported);
    allocator->free(s);
    s = next;
  }
  r->~hist_recorder();
  allocator->free(r);
}

uint64_t hist_recorder_insert(hist_recorder *r, double value, uint64_t count) {
  return record(r, hist_double_to_bucket(value), count);
}

uint64_t hist_recorder_insert_intscale(hist_recorder *r, int64_t value, int scale, uint64_t count) {
  return record(r, int_scale_to_hist_bucket(value, scale), count);
}

uint64_t hist_recorder_insert_corrected(hist_recorder *r, double value, double expected_interval, uint64_t count) {
  if (hist_correction_applies(value, expected_interval) && !reserve_correction(r, value, expected_interval, count))
    return 0;
  return hist_record_corrected(value, expected_interval, count,
                               [r](hist_bucket b, uint64_t n) { return record(r, b, n); });
}

int hist_recorder_snapshot(hist_recorder *r, histogram *out, int reset) {
  if (!r || !out) return -1;
  // One snapshot at a time: the reported counts are the snapshot's own.
  while (r->snapshotting.exchange(true, std::memory_order_acquire)) {
  }
  const bool reported = prepare_reported(r) && report(r, out, reset != 0);
  r->snapshotting.store(false, std::memory_order_release);
  return reported ? 0 : -1;
}

}  // extern "C"
