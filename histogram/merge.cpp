// Combining histograms bucket by bucket: the k-way merge behind
// hist_accumulate, the clamped subtraction, and the signed-delta arithmetic
// of the _as_int64 variants.  All of them walk the sorted entry arrays.
#include <climits>
#include <cstdlib>

#include "hist_internal.hpp"

namespace {

// Merges of up to this many sources keep their cursor in local buffers.
constexpr int local_merge_sources = 8192;
// hist_accumulate keeps the list of up to this many sources (and the
// target's snapshot) in a local array.
constexpr int local_accumulate_sources = 1024;
constexpr uint64_t negative_half = uint64_t{1} << 63;

using merge_callback = void (*)(histogram *tgt, int tgt_pos, const histogram *src, int src_pos);

// The merge cursor: one head position per source, and a binary min-heap of
// the sources not yet exhausted, ordered by their head bucket and then by
// source number.  Choosing the next bucket thus costs O(log k), not a scan
// of all k heads, and sources holding the same bucket come off the heap in
// source order.
class merge_cursor {
 public:
  explicit merge_cursor(int sources) {
    if (sources <= local_merge_sources) {
      heads_ = local_heads_;
      heap_ = local_heap_;
      return;
    }
    block_ = std::malloc(static_cast<size_t>(sources) * (sizeof(uint32_t) + sizeof(uint16_t)));
    if (block_ == nullptr) return;
    heap_ = static_cast<uint32_t *>(block_);
    heads_ = reinterpret_cast<uint16_t *>(heap_ + sources);
  }
  ~merge_cursor() { std::free(block_); }
  merge_cursor(const merge_cursor &) = delete;
  merge_cursor &operator=(const merge_cursor &) = delete;

  bool ready() const { return heap_ != nullptr; }

  // Sets every head to 0 and queues the sources that hold entries.
  void start(const histogram *const *src, int cnt) {
    src_ = src;
    size_ = 0;
    for (int s = 0; s < cnt; ++s) {
      heads_[s] = 0;
      if (src[s] != nullptr && src[s]->used > 0) heap_[size_++] = static_cast<uint32_t>(s);
    }
    for (int i = size_ / 2 - 1; i >= 0; --i) sift_down(i);
  }

  bool exhausted() const { return size_ == 0; }
  int32_t next_key() const { return head_key(heap_[0]); }
  const histogram *next_source() const { return src_[heap_[0]]; }
  int next_position() const { return heads_[heap_[0]]; }

  // Moves the head of the next source on by one entry.
  void advance() {
    const uint32_t s = heap_[0];
    if (++heads_[s] == src_[s]->used) heap_[0] = heap_[--size_];
    if (size_ > 0) sift_down(0);
  }

 private:
  int32_t head_key(uint32_t s) const { return hist_bucket_order_key(src_[s]->entries[heads_[s]].bucket); }

  bool before(uint32_t a, uint32_t b) const {
    const int32_t ka = head_key(a), kb = head_key(b);
    return ka < kb || (ka == kb && a < b);
  }

  void sift_down(int i) {
    const uint32_t moving = heap_[i];
    for (;;) {
      int child = 2 * i + 1;
      if (child >= size_) break;
      if (child + 1 < size_ && before(heap_[child + 1], heap_[child])) ++child;
      if (!before(heap_[child], moving)) break;
      heap_[i] = heap_[child];
      i = child;
    }
    heap_[i] = moving;
  }

  const histogram *const *src_ = nullptr;
  int size_ = 0;
  uint16_t *heads_ = nullptr;
  uint32_t *heap_ = nullptr;
  void *block_ = nullptr;
  uint16_t local_heads_[local_merge_sources];
  uint32_t local_heap_[local_merge_sources];
};

// The merge walk: emits the distinct buckets of all sources in bucket order
// at output positions 0, 1, 2, ..., calling cb (when given) once for every
// source entry holding the emitted bucket, in source order.  Returns the
// number of distinct buckets.
int hist_needed_merge_size_fc(const histogram *const *src, int cnt, merge_callback cb, histogram *tgt,
                              merge_cursor &cursor) {
  cursor.start(src, cnt);
  int emitted = 0;
  while (!cursor.exhausted()) {
    const int32_t key = cursor.next_key();
    do {
      if (cb != nullptr) cb(tgt, emitted, cursor.next_source(), cursor.next_position());
      cursor.advance();
    } while (!cursor.exhausted() && cursor.next_key() == key);
    ++emitted;
  }
  return emitted;
}

// The first source holding the bucket at tgt_pos appends it (the array is
// zero-filled); every further one adds to that slot.
void internal_bucket_accum(histogram *tgt, int tgt_pos, const histogram *src, int src_pos) {
  const hist_bucket_entry &from = src->entries[src_pos];
  hist_bucket_entry &to = tgt->entries[tgt_pos];
  if (tgt_pos == tgt->used) {
    to.bucket = from.bucket;
    ++tgt->used;
  }
  to.count = hist_saturating_add(to.count, from.count);
}

// The list of sources that hist_accumulate merges: the given ones, then the
// target's previous contents as a snapshot that stays readable while the
// target is rebuilt.
class accumulate_sources {
 public:
  accumulate_sources(const histogram *tgt, const histogram *const *src, int cnt)
      : snapshot_{tgt->capacity, tgt->used, 0, tgt->allocator, tgt->entries}, count_(cnt + 1) {
    list_ = cnt <= local_accumulate_sources
                ? local_
                : static_cast<const histogram **>(std::malloc(static_cast<size_t>(count_) * sizeof(histogram *)));
    if (list_ == nullptr) return;
    // The target itself among the sources stands for its previous contents.
    for (int i = 0; i < cnt; ++i) list_[i] = src[i] == tgt ? &snapshot_ : src[i];
    list_[cnt] = &snapshot_;
  }
  ~accumulate_sources() {
    if (list_ != local_) std::free(list_);
  }
  accumulate_sources(const accumulate_sources &) = delete;
  accumulate_sources &operator=(const accumulate_sources &) = delete;

  bool ready() const { return list_ != nullptr; }
  const histogram *const *list() const { return list_; }
  int count() const { return count_; }
  hist_bucket_entry *previous_entries() const { return snapshot_.entries; }

 private:
  histogram snapshot_;
  int count_;
  const histogram **list_;
  const histogram *local_[local_accumulate_sources + 1];
};

// Whether all of src's samples could be taken from tgt; counts clamp at 0.
bool subtract_clamped(histogram *tgt, const histogram &src) {
  bool exact = true;
  int k = 0;
  for (int j = 0; j < src.used;) {
    const hist_bucket_entry &from = src.entries[j];
    if (k == tgt->used) {
      if (from.count != 0) exact = false;
      ++j;
      continue;
    }
    hist_bucket_entry &to = tgt->entries[k];
    const int order = hist_bucket_compare(to.bucket, from.bucket);
    if (order == 0) {
      const uint64_t held = to.count, taken = from.count;
      if (held < taken) exact = false;
      to.count = held < taken ? 0 : held - taken;
      ++j;
      ++k;
    } else if (order < 0) {
      ++k;
    } else {
      if (from.count != 0) exact = false;
      ++j;
    }
  }
  return exact;
}

struct delta_result {
  uint64_t count;
  bool in_range;
};

// t + s modulo 2^64, with s a signed delta: in range when the exact result
// lies in 0..2^64-1.
delta_result add_signed_delta(uint64_t t, uint64_t s) {
  const bool positive = static_cast<int64_t>(s) > 0;
  const uint64_t sum = t + s;
  return {sum, positive ? sum >= t : uint64_t{0} - s <= t};
}

// t - s modulo 2^64: in range unless the result, read as signed, is -2^63 or
// lower.
delta_result subtract_delta(uint64_t t, uint64_t s) { return {t - s, !(t < s && s - t >= negative_half)}; }

using delta_operation = delta_result (*)(uint64_t t, uint64_t s);

// Applies src to tgt bucket by bucket, adding an empty entry for every
// source bucket that tgt lacks.  On success the zero-count entries go.
int apply_deltas(histogram *tgt, const histogram *src, delta_operation op) {
  if (src == nullptr) return 0;
  bool in_range = true;
  int k = 0;
  for (int j = 0; j < src->used;) {
    const hist_bucket bucket = src->entries[j].bucket;
    if (k == tgt->used || hist_bucket_compare(bucket, tgt->entries[k].bucket) < 0) {
      const int before = tgt->used;
      hist_insert_raw(tgt, bucket, 0);
      // At the 16-bit entry limit there is no room for the bucket: its delta is lost.
      if (tgt->used == before) {
        in_range = false;
        ++j;
      }
      continue;
    }
    hist_bucket_entry &to = tgt->entries[k];
    if (hist_bucket_compare(to.bucket, bucket) < 0) {
      ++k;
      continue;
    }
    const delta_result result = op(to.count, src->entries[j].count);
    to.count = result.count;
    in_range = in_range && result.in_range;
    ++j;
    ++k;
  }
  if (!in_range) return -1;
  hist_remove_zeroes(tgt);
  return 0;
}

}  // namespace

extern "C" {

int hist_accumulate(histogram *tgt, const histogram *const *src, int cnt) {
  // The target's snapshot takes one more slot than the sources.
  if (cnt < 0 || cnt == INT_MAX) return -1;
  const accumulate_sources sources(tgt, src, cnt);
  if (!sources.ready()) return -1;
  merge_cursor cursor(sources.count());
  if (!cursor.ready()) return -1;
  const int distinct = hist_needed_merge_size_fc(sources.list(), sources.count(), nullptr, nullptr, cursor);
  if (distinct > hist_max_entries) return -1;

  const int capacity = distinct > 0 ? distinct : 1;
  tgt->entries = static_cast<hist_bucket_entry *>(tgt->allocator->calloc(capacity, sizeof(hist_bucket_entry)));
  tgt->capacity = static_cast<uint16_t>(capacity);
  tgt->used = 0;
  hist_needed_merge_size_fc(sources.list(), sources.count(), internal_bucket_accum, tgt, cursor);
  tgt->allocator->free(sources.previous_entries());
  hist_fast_rebuild(tgt, 0, 1);
  return tgt->used;
}

int hist_subtract(histogram *tgt, const histogram *const *src, int cnt) {
  int status = 0;
  for (int i = 0; i < cnt; ++i)
    if (src[i] != nullptr && !subtract_clamped(tgt, *src[i])) status = -1;
  return status;
}

int hist_add_as_int64(histogram *tgt, const histogram *src) { return apply_deltas(tgt, src, add_signed_delta); }

int hist_subtract_as_int64(histogram *tgt, const histogram *src) {
  return apply_deltas(tgt, src, subtract_delta);
}

}  // extern "C"
