// The histogram record: creation, cloning, release, clearing, lookup, the
// fast index, and enumeration.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "hist_internal.hpp"

extern "C" const hist_allocator default_allocator = {std::malloc, std::calloc, std::free};

namespace {

int clamp_capacity(int nbins) {
  if (nbins <= 0) return hist_default_capacity;
  return nbins > hist_max_conversion_buckets ? hist_max_conversion_buckets : nbins;
}

uint16_t *allocate_page(const hist_allocator *allocator) {
  return static_cast<uint16_t *>(allocator->calloc(hist_fast_page_slots, sizeof(uint16_t)));
}

void zero_pages(hist_fast_record *f) {
  for (uint16_t *page : f->fast_index)
    if (page) std::memset(page, 0, hist_fast_page_slots * sizeof(uint16_t));
}

}  // namespace

// NULL when the allocator fails; nothing is then left allocated.
histogram *hist_create(int capacity, bool fast, const hist_allocator *allocator) {
  const size_t record_size = fast ? sizeof(hist_fast_record) : sizeof(histogram);
  auto *h = static_cast<histogram *>(allocator->calloc(1, record_size));
  if (h == nullptr) return nullptr;
  h->entries = static_cast<hist_bucket_entry *>(allocator->calloc(capacity, sizeof(hist_bucket_entry)));
  if (h->entries == nullptr) {
    allocator->free(h);
    return nullptr;
  }
  h->capacity = static_cast<uint16_t>(capacity);
  h->allocator = allocator;
  h->fast = fast;
  return h;
}

extern "C" {

histogram *hist_alloc_nbins_with_allocator(int nbins, const hist_allocator *allocator) {
  return hist_create(clamp_capacity(nbins), false, allocator);
}
histogram *hist_fast_alloc_nbins_with_allocator(int nbins, const hist_allocator *allocator) {
  return hist_create(clamp_capacity(nbins), true, allocator);
}
histogram *hist_alloc(void) { return hist_alloc_nbins_with_allocator(0, &default_allocator); }
histogram *hist_alloc_nbins(int nbins) { return hist_alloc_nbins_with_allocator(nbins, &default_allocator); }
histogram *hist_alloc_with_allocator(const hist_allocator *allocator) {
  return hist_alloc_nbins_with_allocator(0, allocator);
}
histogram *hist_fast_alloc(void) { return hist_fast_alloc_nbins_with_allocator(0, &default_allocator); }
histogram *hist_fast_alloc_nbins(int nbins) { return hist_fast_alloc_nbins_with_allocator(nbins, &default_allocator); }
histogram *hist_fast_alloc_with_allocator(const hist_allocator *allocator) {
  return hist_fast_alloc_nbins_with_allocator(0, allocator);
}

histogram *hist_clone_with_allocator(const histogram *src, const hist_allocator *allocator) {
  // Raw buckets can bring more entries than the conversions produce; the
  // clone then follows used so that nothing is cut off.
  int capacity = clamp_capacity(src->capacity);
  if (capacity < src->used) capacity = src->used;
  histogram *h = hist_create(capacity, src->fast, allocator);
  if (h == nullptr) return nullptr;
  if (src->fast) {
    const hist_fast_record *from = hist_fast_of(src);
    hist_fast_record *to = hist_fast_of(h);
    for (int i = 0; i < hist_fast_pages; ++i) {
      if (!from->fast_index[i]) continue;
      to->fast_index[i] = allocate_page(allocator);
      if (to->fast_index[i] == nullptr) {
        hist_free(h);
        return nullptr;
      }
      std::memcpy(to->fast_index[i], from->fast_index[i], hist_fast_page_slots * sizeof(uint16_t));
    }
  }
  if (src->used) std::memcpy(h->entries, src->entries, src->used * sizeof(hist_bucket_entry));
  h->used = src->used;
  return h;
}

histogram *hist_clone(const histogram *src) { return hist_clone_with_allocator(src, &default_allocator); }

void hist_free(histogram *h) {
  if (!h) return;
  const hist_allocator *allocator = h->allocator;
  if (h->entries) allocator->free(h->entries);
  if (h->fast)
    for (uint16_t *page : hist_fast_of(h)->fast_index) allocator->free(page);
  allocator->free(h);
}

void hist_clear(histogram *h) {
  h->used = 0;
  if (h->fast) zero_pages(hist_fast_of(h));
}

int hist_num_buckets(const histogram *h) { return h->used; }
int hist_bucket_count(const histogram *h) { return h ? h->used : 0; }

int hist_bucket_idx(const histogram *h, int idx, double *value, uint64_t *count) {
  if (idx < 0 || idx >= h->used) return 0;
  *value = hist_bucket_to_double(h->entries[idx].bucket);
  *count = h->entries[idx].count;
  return 1;
}

int hist_bucket_idx_bucket(const histogram *h, int idx, hist_bucket *bucket, uint64_t *count) {
  if (idx < 0 || idx >= h->used) return 0;
  *bucket = h->entries[idx].bucket;
  *count = h->entries[idx].count;
  return 1;
}

}  // extern "C"

bool hist_fast_reserve_page(histogram *h, hist_bucket b) {
  if (!h->fast) return true;
  uint16_t *&page = hist_fast_of(h)->fast_index[static_cast<uint8_t>(b.exp)];
  if (!page) page = allocate_page(h->allocator);
  return page != nullptr;
}

bool hist_fast_reserve_pages(histogram *h, const hist_bucket_entry *entries, int count) {
  for (int i = 0; i < count; ++i)
    if (!hist_fast_reserve_page(h, entries[i].bucket)) return false;
  return true;
}

void hist_fast_rebuild(histogram *h, int start, int clear) {
  if (!h->fast) return;
  hist_fast_record *f = hist_fast_of(h);
  if (clear) zero_pages(f);
  for (int i = start; i < h->used; ++i) {
    const hist_bucket b = h->entries[i].bucket;
    // Without its page the bucket stays unknown to the index, which the
    // lookup answers by searching: a missing slot is never wrong.
    if (!hist_fast_reserve_page(h, b)) continue;
    f->fast_index[static_cast<uint8_t>(b.exp)][static_cast<uint8_t>(b.val)] = static_cast<uint16_t>(i + 1);
  }
}
