// The serialized histogram: a 2-byte big-endian record count N, then one
// record per bucket with samples: val, exp, a width byte t (0..7) and t + 1
// count bytes, least significant first.
#include <algorithm>

#include "hist_internal.hpp"

namespace {

constexpr int width_rows = 7;
constexpr ssize_t header_bytes = 2;
// val, exp and the width byte precede the count bytes of a record.
constexpr ssize_t record_head_bytes = 3;
constexpr int max_width_code = 7;
constexpr int bits_per_byte = 8;
constexpr unsigned byte_mask = 0xff;

}  // namespace

extern "C" const uint64_t bvl_limits[width_rows] = {
    0xffULL,           0xffffULL,           0xffffffULL,         0xffffffffULL,
    0xffffffffffULL,   0xffffffffffffULL,   0xffffffffffffffULL,
};

namespace {

// t: the first row of bvl_limits that holds the count, 7 above them all.
int width_code(uint64_t count) {
  for (int row = 0; row < width_rows; ++row)
    if (count <= bvl_limits[row]) return row;
  return max_width_code;
}

ssize_t record_length(int width) { return record_head_bytes + width + 1; }

void write_record(uint8_t *out, const hist_bucket_entry &e, int width) {
  out[0] = static_cast<uint8_t>(e.bucket.val);
  out[1] = static_cast<uint8_t>(e.bucket.exp);
  out[2] = static_cast<uint8_t>(width);
  const uint64_t count = e.count;
  for (int i = 0; i <= width; ++i) out[record_head_bytes + i] = static_cast<uint8_t>(count >> (bits_per_byte * i));
}

uint64_t read_count(const uint8_t *bytes, int width) {
  uint64_t count = 0;
  for (int i = width; i >= 0; --i) count = (count << bits_per_byte) | bytes[i];
  return count;
}

// Records of invalid buckets are dropped, except the NaN bucket's, which
// holds the samples that no valid bucket can.
bool is_storable(hist_bucket b) { return hist_bucket_is_valid(b) || hist_bucket_identical(b, hist_nan_bucket); }

void release_entries(histogram *h) {
  h->allocator->free(h->entries);
  h->entries = nullptr;
  h->capacity = 0;
  h->used = 0;
}

// Room for the declared number of entries, but no more than the input can
// hold (records take at least 4 bytes) beyond one growth step: a short
// record announcing 65,535 buckets must not claim 640 KiB.  Every record
// read still finds its slot.
unsigned entry_capacity(unsigned declared, ssize_t input_length) {
  const auto storable = static_cast<size_t>((input_length - header_bytes) / record_length(0));
  return static_cast<unsigned>(std::min<size_t>(declared, std::max<size_t>(storable, hist_growth_step)));
}

// Every read leaves the fast index exact for the entries it leaves behind.
ssize_t finish_read(histogram *h, ssize_t result) {
  hist_fast_rebuild(h, 0, 1);
  return result;
}

ssize_t fail_decoding(histogram *decoded) {
  release_entries(decoded);
  return -1;
}

}  // namespace

// A writer may send buckets out of order or more than once: sort them and
// add up the counts of repeated buckets, so the order invariant holds and no
// sample is lost.
int hist_sort_and_merge_repeats(hist_bucket_entry *entries, int n) {
  std::sort(entries, entries + n, [](const hist_bucket_entry &a, const hist_bucket_entry &b) {
    return hist_bucket_order_key(a.bucket) < hist_bucket_order_key(b.bucket);
  });
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    if (kept > 0 && hist_bucket_identical(entries[kept - 1].bucket, entries[i].bucket))
      entries[kept - 1].count = hist_saturating_add(entries[kept - 1].count, entries[i].count);
    else
      entries[kept++] = entries[i];
  }
  return kept;
}

ssize_t hist_decode_record(const void *buff, ssize_t buff_len, histogram *decoded) {
  if (buff_len < header_bytes) return -1;
  const auto *const in = static_cast<const uint8_t *>(buff);
  const unsigned declared = (unsigned{in[0]} << bits_per_byte) | in[1];
  if (declared == 0) return header_bytes;
  const unsigned capacity = entry_capacity(declared, buff_len);
  decoded->entries = static_cast<hist_bucket_entry *>(decoded->allocator->calloc(capacity, sizeof(hist_bucket_entry)));
  if (decoded->entries == nullptr) return -1;
  decoded->capacity = static_cast<uint16_t>(capacity);

  bool ascending = true;
  ssize_t pos = header_bytes;
  for (unsigned records = 0; records < declared && pos < buff_len; ++records) {
    if (buff_len - pos < record_head_bytes) return fail_decoding(decoded);
    const int width = in[pos + 2];
    if (width > max_width_code || buff_len - pos < record_length(width)) return fail_decoding(decoded);
    const hist_bucket bucket{static_cast<int8_t>(in[pos]), static_cast<int8_t>(in[pos + 1])};
    const uint64_t count = read_count(in + pos + record_head_bytes, width);
    pos += record_length(width);
    if (count == 0 || !is_storable(bucket)) continue;
    hist_bucket_entry *const entries = decoded->entries;
    if (decoded->used > 0 && hist_bucket_compare(entries[decoded->used - 1].bucket, bucket) >= 0) ascending = false;
    entries[decoded->used].bucket = bucket;
    entries[decoded->used].count = count;
    ++decoded->used;
  }
  if (!ascending) decoded->used = static_cast<uint16_t>(hist_sort_and_merge_repeats(decoded->entries, decoded->used));
  return pos;
}

ssize_t hist_add_record(histogram *h, const void *buff, ssize_t buff_len, bool whole) {
  histogram decoded{0, 0, 0, h->allocator, nullptr};
  const ssize_t consumed = hist_decode_record(buff, buff_len, &decoded);
  const bool added = consumed >= 0 && (!whole || consumed == buff_len) && hist_add_entries(h, decoded);
  release_entries(&decoded);
  return added ? consumed : -1;
}

extern "C" {

ssize_t hist_serialize_estimate(const histogram *h) {
  ssize_t length = header_bytes;
  if (h == nullptr) return length;
  for (int i = 0; i < h->used; ++i) {
    const uint64_t count = h->entries[i].count;
    if (count != 0) length += record_length(width_code(count));
  }
  return length;
}

ssize_t hist_serialize(const histogram *h, void *buff, ssize_t buff_len) {
  if (buff_len < header_bytes) return -1;
  auto *const out = static_cast<uint8_t *>(buff);
  ssize_t pos = header_bytes;
  unsigned records = 0;
  for (int i = 0; h != nullptr && i < h->used; ++i) {
    const hist_bucket_entry &e = h->entries[i];
    if (e.count == 0) continue;
    const int width = width_code(e.count);
    if (buff_len - pos < record_length(width)) return -1;
    write_record(out + pos, e, width);
    pos += record_length(width);
    ++records;
  }
  out[0] = static_cast<uint8_t>(records >> bits_per_byte);
  out[1] = static_cast<uint8_t>(records & byte_mask);
  return pos;
}

ssize_t hist_deserialize(histogram *h, const void *buff, ssize_t buff_len) {
  release_entries(h);
  histogram decoded{0, 0, 0, h->allocator, nullptr};
  const ssize_t consumed = hist_decode_record(buff, buff_len, &decoded);
  // A read that cannot index its entries fails as a broken record does.
  if (consumed < 0 || !hist_fast_reserve_pages(h, decoded.entries, decoded.used)) {
    release_entries(&decoded);
    return finish_read(h, -1);
  }
  h->entries = decoded.entries;
  h->capacity = decoded.capacity;
  h->used = decoded.used;
  return finish_read(h, consumed);
}

ssize_t hist_deserialize_add(histogram *h, const void *buff, ssize_t buff_len) {
  return hist_add_record(h, buff, buff_len, false);
}

}  // extern "C"
