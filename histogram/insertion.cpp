// Adding and removing samples.  Counts saturate at 2^64 - 1 and removal stops
// at 0; every operation reports the amount that actually changed.
#include <algorithm>
#include <cstring>

#include "hist_internal.hpp"

namespace {

// False when the first array cannot be allocated; h is then unchanged.
bool ensure_storage(histogram *h) {
  if (h->entries) return true;
  auto *entries = static_cast<hist_bucket_entry *>(h->allocator->malloc(hist_growth_step * sizeof(hist_bucket_entry)));
  if (entries == nullptr) return false;
  h->entries = entries;
  h->capacity = hist_growth_step;
  return true;
}

// Opens a gap at position p for a new entry, growing the array by one step
// when it is full (copy and gap in a single pass).  False, with h unchanged,
// when the 16-bit limits leave no room or the larger array is not available.
bool open_gap(histogram *h, int p) {
  const int used = h->used;
  if (used < h->capacity) {
    std::memmove(h->entries + p + 1, h->entries + p, (used - p) * sizeof(hist_bucket_entry));
    return true;
  }
  if (used >= hist_max_entries) return false;
  int grown = h->capacity + hist_growth_step;
  if (grown > hist_max_entries) grown = hist_max_entries;
  auto *fresh = static_cast<hist_bucket_entry *>(h->allocator->malloc(grown * sizeof(hist_bucket_entry)));
  if (fresh == nullptr) return false;
  std::memcpy(fresh, h->entries, p * sizeof(hist_bucket_entry));
  std::memcpy(fresh + p + 1, h->entries + p, (used - p) * sizeof(hist_bucket_entry));
  h->allocator->free(h->entries);
  h->entries = fresh;
  h->capacity = static_cast<uint16_t>(grown);
  return true;
}

// Room in h's array for more new entries, in one larger array when it lacks
// it: false, with h unchanged, when that is not available.  Room stops at
// the 16-bit limit, where insertions fail one by one as they otherwise do.
bool reserve_entries(histogram *h, int more) {
  const int capacity = h->entries != nullptr ? h->capacity : 0;
  const int needed = std::min(h->used + more, hist_max_entries);
  if (needed <= capacity && h->entries != nullptr) return true;
  const int grown = hist_grown_capacity(capacity, std::max(needed, hist_growth_step));
  auto *fresh = static_cast<hist_bucket_entry *>(h->allocator->malloc(grown * sizeof(hist_bucket_entry)));
  if (fresh == nullptr) return false;
  if (h->used > 0) std::memcpy(fresh, h->entries, h->used * sizeof(hist_bucket_entry));
  h->allocator->free(h->entries);
  h->entries = fresh;
  h->capacity = static_cast<uint16_t>(grown);
  return true;
}

// Adds n to the entry's count, saturating: the amount added.
uint64_t add_to_entry(hist_bucket_entry *e, uint64_t n) {
  const hist_count_update update = hist_count_after_adding(e->count, n);
  e->count = update.count;
  return update.added;
}

// The index page comes first: once the gap is open, the rebuild must not
// fail.  Nothing is added (result 0) when memory is not available.
uint64_t insert_new_entry(histogram *h, int p, hist_bucket hb, uint64_t count) {
  if (!hist_fast_reserve_page(h, hb) || !open_gap(h, p)) return 0;
  h->entries[p].bucket = hb;
  h->entries[p].count = count;
  h->used++;
  hist_fast_rebuild(h, p, 0);
  return count;
}

// The paths that search or convert through a call stay out of line, so
// that the inline fast paths save no registers.
[[gnu::noinline]] uint64_t insert_searching(histogram *h, hist_bucket hb, uint64_t count) {
  return hist_insert_raw(h, hb, count);
}

// The common case of a fast histogram, a bucket already indexed, without
// the calls of the general path.
inline uint64_t insert_bucket(histogram *h, hist_bucket hb, uint64_t count) {
  if (const int slot = hist_fast_slot(h, hb)) return add_to_entry(h->entries + (slot - 1), count);
  return insert_searching(h, hb, count);
}

[[gnu::noinline]] uint64_t insert_value_slowly(histogram *h, double value, uint64_t count) {
  return insert_bucket(h, double_to_hist_bucket(value), count);
}
[[gnu::noinline]] uint64_t insert_intscale_slowly(histogram *h, int64_t value, int scale, uint64_t count) {
  return insert_bucket(h, int_scale_to_hist_bucket(value, scale), count);
}

// A correction may reach many buckets that h lacks: their index pages and
// the room for them are taken before a count changes, so that missing
// memory adds nothing rather than a part of the series.
bool reserve_correction(histogram *h, double value, double interval, uint64_t count) {
  int missing = 0;
  bool pages = true;
  hist_record_corrected(value, interval, count, [&](hist_bucket b, uint64_t n) {
    int pos;
    if (!hist_internal_find(h, b, &pos)) {
      ++missing;
      pages = pages && hist_fast_reserve_page(h, b);
    }
    return n;
  });
  return pages && reserve_entries(h, missing);
}

}  // namespace

extern "C" {

uint64_t hist_insert_raw(histogram *h, hist_bucket hb, uint64_t count) {
  if (!ensure_storage(h)) return 0;
  int p;
  if (hist_internal_find(h, hb, &p)) return add_to_entry(h->entries + p, count);
  return insert_new_entry(h, p, hb, count);
}

uint64_t hist_insert_raw_end(histogram *h, hist_bucket hb, uint64_t count) {
  if (h->used == h->capacity) return hist_insert_raw(h, hb, count);
  if (h->used > 0) {
    const hist_bucket last = h->entries[h->used - 1].bucket;
    if (hist_bucket_compare(last, hb) >= 0) return hist_insert_raw(h, hb, count);
  }
  return insert_new_entry(h, h->used, hb, count);
}

uint64_t hist_insert(histogram *h, double value, uint64_t count) {
  hist_bucket hb;
  if (!hist_double_to_bucket_ready(value, &hb)) [[unlikely]]
    return insert_value_slowly(h, value, count);
  return insert_bucket(h, hb, count);
}

uint64_t hist_insert_intscale(histogram *h, int64_t value, int scale, uint64_t count) {
  hist_bucket hb;
  if (!hist_int_scale_to_bucket_ready(value, scale, &hb)) [[unlikely]]
    return insert_intscale_slowly(h, value, scale, count);
  return insert_bucket(h, hb, count);
}

uint64_t hist_insert_corrected(histogram *h, double value, double expected_interval, uint64_t count) {
  if (hist_correction_applies(value, expected_interval) && !reserve_correction(h, value, expected_interval, count))
    return 0;
  return hist_record_corrected(value, expected_interval, count,
                               [h](hist_bucket b, uint64_t n) { return insert_bucket(h, b, n); });
}

uint64_t hist_remove_raw(histogram *h, hist_bucket hb, uint64_t count) {
  int p;
  if (!hist_internal_find(h, hb, &p)) return 0;
  const uint64_t held = h->entries[p].count;
  const uint64_t removed = held < count ? held : count;
  h->entries[p].count = held - removed;
  return removed;
}

uint64_t hist_remove(histogram *h, double value, uint64_t count) {
  return hist_remove_raw(h, double_to_hist_bucket(value), count);
}

void hist_remove_zeroes(histogram *h) {
  if (!h) return;
  int kept = 0;
  for (int i = 0; i < h->used; ++i)
    if (h->entries[i].count != 0) h->entries[kept++] = h->entries[i];
  h->used = static_cast<uint16_t>(kept);
  hist_fast_rebuild(h, 0, 1);
}

uint64_t hist_sample_count(const histogram *h) {
  if (!h) return 0;
  uint64_t total = 0;
  for (int i = 0; i < h->used && total != UINT64_MAX; ++i) total = hist_saturating_add(total, h->entries[i].count);
  return total;
}

}  // extern "C"
