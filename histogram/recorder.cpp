// The thread-safe recorder: every thread counts into a shard of its own, so
// inserts never contend; a snapshot reads the shards' counts and reports
// what grew since the counts it last took.
//
// A shard holds one count per bucket, in pages indexed like the fast index
// (exp byte, then val byte).  Only the owning thread writes a count, with a
// plain load and store (atomic, so that the reader sees whole values);
// counts only grow, so the difference between two readings is exactly the
// samples recorded in between, and each sample is reported once.
#include <atomic>
#include <cstdlib>
#include <new>

#include "hist_internal.hpp"

namespace {

using count_page = uint64_t[hist_fast_page_slots];

struct shard {
  const void *owner;  // the owning thread's token; a later thread may take over the shard of an exited one
  shard *next;
  count_page *pages[hist_fast_pages];     // written by the owner, published with release
  count_page *reported[hist_fast_pages];  // the counts reported so far; the snapshot's alone
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
  std::atomic<shard *> shards;
  std::atomic<bool> snapshotting;
};

namespace {

shard *find_or_add_shard(hist_recorder *r) {
  const void *me = thread_token();
  shard *head = r->shards.load(std::memory_order_acquire);
  for (shard *s = head; s; s = s->next)
    if (s->owner == me) return s;
  auto *s = static_cast<shard *>(std::calloc(1, sizeof(shard)));
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

// Adds n (saturating) to the count of b in the calling thread's shard: the amount added.
uint64_t record(hist_recorder *r, hist_bucket b, uint64_t n) {
  shard *s = my_shard(r);
  if (!s) return 0;
  count_page *&slot = s->pages[static_cast<uint8_t>(b.exp)];
  count_page *page = load_page(slot, std::memory_order_relaxed);
  if (!page) [[unlikely]] {
    page = static_cast<count_page *>(std::calloc(1, sizeof(count_page)));
    if (!page) return 0;
    std::atomic_ref<count_page *>(slot).store(page, std::memory_order_release);
  }
  std::atomic_ref<uint64_t> count((*page)[static_cast<uint8_t>(b.val)]);
  const hist_count_update update = hist_count_after_adding(count.load(std::memory_order_relaxed), n);
  count.store(update.count, std::memory_order_relaxed);
  return update.added;
}

// Makes sure every page of every shard has its page of reported counts, so
// that the snapshot cannot fail halfway.
bool prepare_reported(hist_recorder *r) {
  for (shard *s = r->shards.load(std::memory_order_acquire); s; s = s->next)
    for (int e = 0; e < hist_fast_pages; ++e) {
      if (s->reported[e] || !load_page(s->pages[e], std::memory_order_acquire)) continue;
      s->reported[e] = static_cast<count_page *>(std::calloc(1, sizeof(count_page)));
      if (!s->reported[e]) return false;
    }
  return true;
}

void report(hist_recorder *r, histogram *out, bool reset) {
  for (shard *s = r->shards.load(std::memory_order_acquire); s; s = s->next)
    for (int e = 0; e < hist_fast_pages; ++e) {
      count_page *page = s->reported[e] ? load_page(s->pages[e], std::memory_order_acquire) : nullptr;
      if (!page) continue;
      uint64_t *reported = *s->reported[e];
      for (int v = 0; v < hist_fast_page_slots; ++v) {
        const uint64_t now = std::atomic_ref<uint64_t>((*page)[v]).load(std::memory_order_relaxed);
        if (now == reported[v]) continue;
        hist_insert_raw(out, hist_bucket{static_cast<int8_t>(v), static_cast<int8_t>(e)}, now - reported[v]);
        if (reset) reported[v] = now;
      }
    }
}

void free_pages(count_page **pages) {
  for (int e = 0; e < hist_fast_pages; ++e) std::free(pages[e]);
}

}  // namespace

extern "C" {

hist_recorder *hist_recorder_alloc(void) {
  void *memory = std::malloc(sizeof(hist_recorder));
  if (!memory) return nullptr;
  return new (memory) hist_recorder{recorder_serial.fetch_add(1, std::memory_order_relaxed), {nullptr}, {false}};
}

void hist_recorder_free(hist_recorder *r) {
  if (!r) return;
  for (shard *s = r->shards.load(std::memory_order_acquire); s;) {
    shard *next = s->next;
    free_pages(s->pages);
    free_pages(s->reported);
    std::free(s);
    s = next;
  }
  r->~hist_recorder();
  std::free(r);
}

uint64_t hist_recorder_insert(hist_recorder *r, double value, uint64_t count) {
  return record(r, hist_double_to_bucket(value), count);
}

uint64_t hist_recorder_insert_intscale(hist_recorder *r, int64_t value, int scale, uint64_t count) {
  return record(r, int_scale_to_hist_bucket(value, scale), count);
}

uint64_t hist_recorder_insert_corrected(hist_recorder *r, double value, double expected_interval, uint64_t count) {
  return hist_record_corrected(value, expected_interval, count,
                               [r](hist_bucket b, uint64_t n) { return record(r, b, n); });
}

int hist_recorder_snapshot(hist_recorder *r, histogram *out, int reset) {
  if (!r || !out) return -1;
  // One snapshot at a time: the reported counts are the snapshot's own.
  while (r->snapshotting.exchange(true, std::memory_order_acquire)) {
  }
  const bool prepared = prepare_reported(r);
  if (prepared) report(r, out, reset != 0);
  r->snapshotting.store(false, std::memory_order_release);
  return prepared ? 0 : -1;
}

}  // extern "C"
