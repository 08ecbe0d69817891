// Combining histograms bucket by bucket: the k-way merge behind
// hist_accumulate (or, for many sources, a table over the whole bucket
// space), the clamped subtraction, and the signed-delta arithmetic of the
// _as_int64 variants.  All of them walk the sorted entry arrays.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "hist_internal.hpp"

namespace {

// hist_accumulate merges up to this many sources, plus the target's
// snapshot, in working memory on the stack; more take one block from the
// target's allocator.
constexpr int local_accumulate_sources = 1024;
constexpr int local_merge_sources = local_accumulate_sources + 1;
constexpr uint64_t negative_half = uint64_t{1} << 63;
// Ends the member list of a group of sources.
constexpr uint32_t no_source = UINT32_MAX;
// Order keys lie above -2^20; biased they fit the upper half of a heap slot.
constexpr int64_t key_bias = int64_t{1} << 20;
constexpr int source_bits = 32;

// From this many sources, and this many source entries in all, on,
// hist_accumulate sums into the dense table: a heap over many sources
// touches a different entry array at almost every step, and misses the
// cache there, while the table costs one pass over every entry plus a fixed
// scan of the bucket space.
constexpr int dense_min_sources = 16;
constexpr int64_t dense_min_entries = 1024;

using merge_callback = void (*)(histogram *tgt, int tgt_pos, const histogram *src, int src_pos);

// Working memory of a merge over n sources: the source list, and per source
// its head position, its link in a group and a heap slot.
class merge_memory {
 public:
  merge_memory(int n, const hist_allocator *allocator) : allocator_(allocator) {
    if (n <= local_merge_sources) {
      sources = local_sources_;
      heap = local_heap_;
      next = local_next_;
      heads = local_heads_;
      return;
    }
    const auto count = static_cast<size_t>(n);
    block_ = allocator->malloc(count * (sizeof(*sources) + sizeof(*heap) + sizeof(*next) + sizeof(*heads)));
    if (block_ == nullptr) return;
    // Carved in order of decreasing alignment.
    sources = static_cast<const histogram **>(block_);
    heap = reinterpret_cast<uint64_t *>(sources + count);
    next = reinterpret_cast<uint32_t *>(heap + count);
    heads = reinterpret_cast<uint16_t *>(next + count);
  }
  ~merge_memory() { allocator_->free(block_); }
  merge_memory(const merge_memory &) = delete;
  merge_memory &operator=(const merge_memory &) = delete;

  bool ready() const { return sources != nullptr; }

  const histogram **sources = nullptr;
  uint64_t *heap = nullptr;
  uint32_t *next = nullptr;
  uint16_t *heads = nullptr;

 private:
  const hist_allocator *allocator_;
  void *block_ = nullptr;
  const histogram *local_sources_[local_merge_sources];
  uint64_t local_heap_[local_merge_sources];
  uint32_t local_next_[local_merge_sources];
  uint16_t local_heads_[local_merge_sources];
};

// The merge cursor.  Sources whose heads hold the same bucket travel as one
// group (a linked list of sources); a binary min-heap orders the groups by
// that bucket.  Emitting a bucket visits each member of its groups, moves
// their heads on and regroups them by their new head buckets, so sources
// that share their buckets cost one heap operation per bucket, and sources
// that share none cost O(log k) per entry instead of a scan of all k heads.
// Members are visited in no particular order; the merge only adds counts.
class merge_cursor {
 public:
  explicit merge_cursor(const merge_memory &memory)
      : heap_(memory.heap), next_(memory.next), heads_(memory.heads) {}

  // Sets every head to 0 and groups the sources that hold entries.
  void start(const histogram *const *src, int n) {
    src_ = src;
    size_ = 0;
    root_vacant_ = false;
    group_builder builder(*this);
    for (int s = 0; s < n; ++s) {
      heads_[s] = 0;
      if (src[s] != nullptr && src[s]->used > 0) builder.add(static_cast<uint32_t>(s));
    }
    builder.finish();
  }

  bool exhausted() const { return size_ == 0; }
  uint64_t next_key() const { return heap_[0] >> source_bits; }

  // Takes the group holding the smallest bucket: calls visit(source, head
  // position) for each member, then moves the members' heads on.
  template <class Visit>
  void take_group(Visit visit) {
    uint32_t s = static_cast<uint32_t>(heap_[0]);
    root_vacant_ = true;
    group_builder builder(*this);
    while (s != no_source) {
      const uint32_t following = next_[s];
      visit(src_[s], int{heads_[s]});
      if (++heads_[s] < src_[s]->used) builder.add(s);
      s = following;
    }
    builder.finish();
    if (root_vacant_) remove_root();
  }

 private:
  // Collects sources into groups as they come, one group per run of equal
  // head buckets, and queues each finished group.
  class group_builder {
   public:
    explicit group_builder(merge_cursor &cursor) : cursor_(cursor) {}
    void add(uint32_t s) {
      const uint64_t key = cursor_.head_key(s);
      cursor_.next_[s] = no_source;
      if (first_ != no_source && key == key_) {
        cursor_.next_[last_] = s;
      } else {
        finish();
        first_ = s;
        key_ = key;
      }
      last_ = s;
    }
    void finish() {
      if (first_ != no_source) cursor_.push((key_ << source_bits) | first_);
      first_ = no_source;
    }

   private:
    merge_cursor &cursor_;
    uint32_t first_ = no_source;
    uint32_t last_ = no_source;
    uint64_t key_ = 0;
  };

  uint64_t head_key(uint32_t s) const {
    return static_cast<uint64_t>(hist_bucket_order_key(src_[s]->entries[heads_[s]].bucket) + key_bias);
  }

  // A group taken from the top leaves the root slot free for the first
  // group queued after it.
  void push(uint64_t slot) {
    if (root_vacant_) {
      root_vacant_ = false;
      sift_down(slot, 0);
      return;
    }
    int i = size_++;
    for (int parent = (i - 1) / 2; i > 0 && slot < heap_[parent]; parent = (i - 1) / 2) {
      heap_[i] = heap_[parent];
      i = parent;
    }
    heap_[i] = slot;
  }

  void remove_root() {
    root_vacant_ = false;
    if (--size_ > 0) sift_down(heap_[size_], 0);
  }

  void sift_down(uint64_t slot, int i) {
    for (;;) {
      int child = 2 * i + 1;
      if (child >= size_) break;
      if (child + 1 < size_ && heap_[child + 1] < heap_[child]) ++child;
      if (heap_[child] >= slot) break;
      heap_[i] = heap_[child];
      i = child;
    }
    heap_[i] = slot;
  }

  const histogram *const *src_ = nullptr;
  uint64_t *heap_;
  uint32_t *next_;
  uint16_t *heads_;
  int size_ = 0;
  bool root_vacant_ = false;
};

// The order keys of all 65,536 bucket bit patterns lie in [lowest, highest].
struct key_range {
  int32_t lowest;
  int32_t highest;
};
constexpr key_range bucket_keys = [] {
  constexpr int32_t last_exponent = 255;  // exp + 128 runs over 0..255
  key_range range{INT32_MAX, INT32_MIN};
  for (const hist_order_term &t : hist_order_terms) {
    const int32_t ends[] = {t.offset, t.offset + t.stride * last_exponent};
    range.lowest = std::min({range.lowest, ends[0], ends[1]});
    range.highest = std::max({range.highest, ends[0], ends[1]});
  }
  return range;
}();
constexpr int dense_slots = bucket_keys.highest - bucket_keys.lowest + 1;
constexpr int word_bits = 64;
constexpr int dense_words = (dense_slots + word_bits - 1) / word_bits;

// The dense merge: one entry slot per possible bucket, indexed by its order
// key, and one bit per slot marking the buckets that occur (zero counts
// included).  Saturating sums of counts do not depend on their order, so
// the result equals that of the k-way merge.
class dense_table {
 public:
  explicit dense_table(const hist_allocator *allocator)
      : allocator_(allocator),
        block_(allocator->calloc(1, dense_words * sizeof(uint64_t) + dense_slots * sizeof(hist_bucket_entry))),
        present_(static_cast<uint64_t *>(block_)),
        slots_(reinterpret_cast<hist_bucket_entry *>(present_ + dense_words)) {}
  ~dense_table() { allocator_->free(block_); }
  dense_table(const dense_table &) = delete;
  dense_table &operator=(const dense_table &) = delete;

  bool ready() const { return block_ != nullptr; }

  void add(const histogram &src) {
    for (int i = 0; i < src.used; ++i) {
      const hist_bucket_entry &from = src.entries[i];
      const int slot = hist_bucket_order_key(from.bucket) - bucket_keys.lowest;
      hist_bucket_entry &to = slots_[slot];
      to.bucket = from.bucket;
      to.count = hist_saturating_add(to.count, from.count);
      present_[slot / word_bits] |= uint64_t{1} << (slot % word_bits);
    }
  }

  int distinct() const {
    int n = 0;
    for (int w = 0; w < dense_words; ++w) n += std::popcount(present_[w]);
    return n;
  }

  // Writes the buckets that occur to out, in bucket order; returns their number.
  int emit(hist_bucket_entry *out) const {
    int n = 0;
    for (int w = 0; w < dense_words; ++w)
      for (uint64_t bits = present_[w]; bits != 0; bits &= bits - 1)
        out[n++] = slots_[w * word_bits + std::countr_zero(bits)];
    return n;
  }

 private:
  const hist_allocator *allocator_;
  void *block_;
  uint64_t *present_;
  hist_bucket_entry *slots_;
};

// The merge walk: emits the distinct buckets of all sources in bucket order
// at output positions 0, 1, 2, ..., calling cb (when given) once for every
// source entry holding the emitted bucket.  Returns the number of distinct
// buckets.
int hist_needed_merge_size_fc(const histogram *const *src, int cnt, merge_callback cb, histogram *tgt,
                              merge_cursor &cursor) {
  cursor.start(src, cnt);
  int emitted = 0;
  while (!cursor.exhausted()) {
    const uint64_t key = cursor.next_key();
    do {
      cursor.take_group([&](const histogram *source, int position) {
        if (cb != nullptr) cb(tgt, emitted, source, position);
      });
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

// The number of src's buckets that tgt lacks.
int missing_buckets(const histogram &tgt, const histogram &src) {
  int missing = 0;
  int k = 0;
  for (int j = 0; j < src.used; ++j) {
    const hist_bucket bucket = src.entries[j].bucket;
    while (k < tgt.used && hist_bucket_compare(tgt.entries[k].bucket, bucket) < 0) ++k;
    if (k == tgt.used || !hist_bucket_identical(tgt.entries[k].bucket, bucket)) ++missing;
  }
  return missing;
}

// Writes tgt's entries and a count-0 entry for each bucket of src that tgt
// lacks, in bucket order, to out (needed entries in all).  The walk runs from
// the back, so out may be tgt's own array when it has room.
void merge_missing_from_back(const histogram &tgt, const histogram &src, hist_bucket_entry *out, int needed) {
  int k = tgt.used - 1;
  int position = needed - 1;
  for (int j = src.used - 1; j >= 0; --j) {
    const hist_bucket bucket = src.entries[j].bucket;
    while (k >= 0 && hist_bucket_compare(tgt.entries[k].bucket, bucket) > 0) out[position--] = tgt.entries[k--];
    if (k >= 0 && hist_bucket_identical(tgt.entries[k].bucket, bucket)) continue;
    out[position--] = hist_bucket_entry{bucket, 0};
  }
  // What is left of tgt lies before every inserted entry: in place it is
  // already where it belongs.
  if (out != tgt.entries && k >= 0) std::memcpy(out, tgt.entries, static_cast<size_t>(k + 1) * sizeof(*out));
}

// Gives tgt a count-0 entry for every bucket of src that it lacks, all at
// once: the index pages and a larger array (grown in steps) come first, so
// that tgt stays unchanged, and false is returned, when the result would pass
// the 16-bit entry limit or memory is not available.
bool insert_missing_buckets(histogram *tgt, const histogram &src) {
  const int missing = missing_buckets(*tgt, src);
  if (missing == 0) return true;
  const int needed = tgt->used + missing;
  if (needed > hist_max_entries || !hist_fast_reserve_pages(tgt, src.entries, src.used)) return false;
  const int capacity = hist_grown_capacity(tgt->capacity, needed);
  hist_bucket_entry *entries = tgt->entries;
  if (capacity != tgt->capacity) {
    entries = static_cast<hist_bucket_entry *>(tgt->allocator->malloc(capacity * sizeof(hist_bucket_entry)));
    if (entries == nullptr) return false;
  }
  merge_missing_from_back(*tgt, src, entries, needed);
  if (entries != tgt->entries) {
    if (tgt->entries != nullptr) tgt->allocator->free(tgt->entries);
    tgt->entries = entries;
    tgt->capacity = static_cast<uint16_t>(capacity);
  }
  tgt->used = static_cast<uint16_t>(needed);
  // Every entry may have moved, and none has gone: refreshing every slot
  // leaves no stale one.
  hist_fast_rebuild(tgt, 0, 0);
  return true;
}

// Applies src to tgt bucket by bucket, once tgt holds an entry (count 0 if
// new) for each of src's buckets: false, with tgt unchanged, without room
// for those.  *in_range tells whether every result was in range.
bool apply_to_counts(histogram *tgt, const histogram &src, delta_operation op, bool *in_range) {
  if (!insert_missing_buckets(tgt, src)) return false;
  *in_range = true;
  int k = 0;
  for (int j = 0; j < src.used; ++j, ++k) {
    while (!hist_bucket_identical(tgt->entries[k].bucket, src.entries[j].bucket)) ++k;
    hist_bucket_entry &to = tgt->entries[k];
    const delta_result result = op(to.count, src.entries[j].count);
    to.count = result.count;
    *in_range = *in_range && result.in_range;
  }
  return true;
}

// The signed-delta arithmetic: on success the zero-count entries go.
int apply_deltas(histogram *tgt, const histogram *src, delta_operation op) {
  if (src == nullptr) return 0;
  bool in_range = false;
  if (!apply_to_counts(tgt, *src, op, &in_range) || !in_range) return -1;
  hist_remove_zeroes(tgt);
  return 0;
}

delta_result add_saturating(uint64_t t, uint64_t s) { return {hist_saturating_add(t, s), true}; }

// Gives tgt a new zero-filled array of exactly distinct entries (at least
// one) filled by fill, releases the old one and rebuilds a fast index.  The
// result is filled in a record of its own and the index pages it needs are
// allocated before tgt changes: tgt stays unchanged, and -1 is returned,
// when the result cannot be held or its memory is not available.
template <class Fill>
int replace_entries(histogram *tgt, int distinct, Fill fill) {
  if (distinct > hist_max_entries) return -1;
  const int capacity = distinct > 0 ? distinct : 1;
  auto *entries = static_cast<hist_bucket_entry *>(tgt->allocator->calloc(capacity, sizeof(hist_bucket_entry)));
  if (entries == nullptr) return -1;
  histogram result{static_cast<uint16_t>(capacity), 0, 0, tgt->allocator, entries};
  fill(&result);
  if (!hist_fast_reserve_pages(tgt, result.entries, result.used)) {
    tgt->allocator->free(entries);
    return -1;
  }
  tgt->allocator->free(tgt->entries);
  tgt->entries = entries;
  tgt->capacity = result.capacity;
  tgt->used = result.used;
  hist_fast_rebuild(tgt, 0, 1);
  return tgt->used;
}

// The target given as a source is read through its snapshot.
const histogram *source_or_snapshot(const histogram *source, const histogram *tgt, const histogram &snapshot) {
  return source == tgt ? &snapshot : source;
}

// Whether the sources are many and large enough for the dense table's fixed
// cost; the merge reads the same source records next.
bool takes_dense_path(const histogram *tgt, const histogram *const *src, int cnt) {
  if (cnt < dense_min_sources) return false;
  int64_t entries = tgt->used;
  for (int i = 0; i < cnt; ++i)
    if (src[i] != nullptr) entries += src[i]->used;
  return entries >= dense_min_entries;
}

int accumulate_dense(dense_table &table, histogram *tgt, const histogram *const *src, int cnt,
                     const histogram &snapshot) {
  for (int i = 0; i < cnt; ++i)
    if (const histogram *source = source_or_snapshot(src[i], tgt, snapshot)) table.add(*source);
  table.add(snapshot);
  return replace_entries(tgt, table.distinct(),
                         [&](histogram *h) { h->used = static_cast<uint16_t>(table.emit(h->entries)); });
}

int accumulate_by_heap(histogram *tgt, const histogram *const *src, int cnt, const histogram &snapshot) {
  const int total = cnt + 1;
  merge_memory memory(total, tgt->allocator);
  if (!memory.ready()) return -1;
  for (int i = 0; i < cnt; ++i) memory.sources[i] = source_or_snapshot(src[i], tgt, snapshot);
  memory.sources[cnt] = &snapshot;

  merge_cursor cursor(memory);
  const int distinct = hist_needed_merge_size_fc(memory.sources, total, nullptr, nullptr, cursor);
  return replace_entries(tgt, distinct, [&](histogram *h) {
    hist_needed_merge_size_fc(memory.sources, total, internal_bucket_accum, h, cursor);
  });
}

}  // namespace

bool hist_add_entries(histogram *tgt, const histogram &src) {
  bool in_range = false;
  return apply_to_counts(tgt, src, add_saturating, &in_range);
}

extern "C" {

int hist_accumulate(histogram *tgt, const histogram *const *src, int cnt) {
  // The target's snapshot takes one more slot than the sources.
  if (cnt < 0 || cnt == INT_MAX) return -1;
  // The target's previous contents merge as the last source, read from a
  // copy of its record that stays valid while the target is rebuilt; the
  // target among the given sources stands for the same.
  const histogram snapshot{tgt->capacity, tgt->used, 0, tgt->allocator, tgt->entries};
  if (takes_dense_path(tgt, src, cnt)) {
    // Without the table the heap merge still serves, in local memory up to
    // 1,024 sources.
    dense_table table(tgt->allocator);
    if (table.ready()) return accumulate_dense(table, tgt, src, cnt, snapshot);
  }
  return accumulate_by_heap(tgt, src, cnt, snapshot);
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
