// The base64 text of the serialized histogram (RFC 4648 alphabet with "="
// padding), and its lenient reader: white space is skipped and decoding ends
// at the first byte that is neither base64 nor white space.
#include <array>
#include <cctype>
#include <cstring>

#include "hist_internal.hpp"

namespace {

// Records and texts up to this size need no heap memory.
constexpr size_t local_scratch_bytes = 8192;
constexpr size_t chars_per_group = 4;
constexpr size_t bytes_per_full_group = 3;
constexpr int bits_per_char = 6;
constexpr int bits_per_byte = 8;
constexpr uint32_t char_mask = 0x3f;
constexpr size_t shortest_text = 4;
constexpr ssize_t shortest_record = 2;

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoding classes besides the 6-bit values 0..63.  Both have a bit above
// the low six set, so one test of four OR-ed codes finds any of them.
constexpr uint8_t pad_code = 0x40;
constexpr uint8_t other_code = 0xff;
constexpr uint8_t non_value_bits = 0xc0;

// The two characters of every 12-bit half of a group, so that encoding a
// group takes two lookups instead of four.
constexpr int bits_per_half_group = 2 * bits_per_char;
constexpr uint32_t half_group_mask = (1u << bits_per_half_group) - 1;
constexpr auto encode_pairs = [] {
  std::array<std::array<char, 2>, size_t{1} << bits_per_half_group> pairs{};
  for (uint32_t half = 0; half <= half_group_mask; ++half)
    pairs[half] = {alphabet[half >> bits_per_char], alphabet[half & char_mask]};
  return pairs;
}();

constexpr std::array<uint8_t, 256> decode_table = [] {
  std::array<uint8_t, 256> table{};
  table.fill(other_code);
  for (uint8_t value = 0; value < 64; ++value) table[static_cast<uint8_t>(alphabet[value])] = value;
  table['='] = pad_code;
  return table;
}();

// Working memory: a fixed buffer inside the caller's frame for small sizes,
// the histogram's allocator above.
class scratch_buffer {
 public:
  scratch_buffer(size_t size, const hist_allocator *allocator)
      : allocator_(allocator),
        data_(size <= local_scratch_bytes ? local_ : static_cast<uint8_t *>(allocator->malloc(size))) {}
  ~scratch_buffer() {
    if (data_ != local_) allocator_->free(data_);
  }
  scratch_buffer(const scratch_buffer &) = delete;
  scratch_buffer &operator=(const scratch_buffer &) = delete;

  uint8_t *data() const { return data_; }

 private:
  const hist_allocator *allocator_;
  uint8_t local_[local_scratch_bytes];
  uint8_t *data_;
};

size_t text_length(size_t record_bytes) {
  return chars_per_group * ((record_bytes + bytes_per_full_group - 1) / bytes_per_full_group);
}

void encode_group(uint32_t group, char *out) {
  std::memcpy(out, encode_pairs[group >> bits_per_half_group].data(), 2);
  std::memcpy(out + 2, encode_pairs[group & half_group_mask].data(), 2);
}

void encode(const uint8_t *in, size_t n, char *out) {
  size_t i = 0;
  for (; i + bytes_per_full_group <= n; i += bytes_per_full_group, out += chars_per_group)
    encode_group((uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2], out);
  const size_t tail = n - i;
  if (tail == 0) return;
  // A final group of 1 byte gives 2 characters and "==", of 2 bytes 3 and "=".
  const uint32_t second = tail == 2 ? uint32_t{in[i + 1]} << 8 : 0;
  encode_group((uint32_t{in[i]} << 16) | second, out);
  out[3] = '=';
  if (tail == 1) out[2] = '=';
}

// The decoding state: 6-bit values collected into groups of four, and the
// number of bytes a group yields, which padding lowers for good.
class decoder {
 public:
  explicit decoder(uint8_t *out) : out_(out) {}

  // Decodes text until it ends or a byte ends the decoding.
  void run(const uint8_t *text, size_t length) {
    size_t i = 0;
    while (i < length) {
      if (pending_ == 0 && group_bytes_ == bytes_per_full_group) i = decode_full_groups(text, i, length);
      if (i == length || !step(text[i])) return;
      ++i;
    }
  }

  size_t decoded() const { return written_; }

 private:
  // The common case: whole groups of four base64 characters, three bytes each.
  size_t decode_full_groups(const uint8_t *text, size_t i, size_t length) {
    for (; i + chars_per_group <= length; i += chars_per_group) {
      const uint8_t a = decode_table[text[i]], b = decode_table[text[i + 1]];
      const uint8_t c = decode_table[text[i + 2]], d = decode_table[text[i + 3]];
      if ((a | b | c | d) & non_value_bits) break;
      yield((uint32_t{a} << 18) | (uint32_t{b} << 12) | (uint32_t{c} << 6) | d, bytes_per_full_group);
    }
    return i;
  }

  // One byte of text; false when it ends the decoding.
  bool step(uint8_t c) {
    const uint8_t code = decode_table[c];
    if (code < pad_code) {
      group_ = (group_ << bits_per_char) | code;
      if (++pending_ == chars_per_group) yield_pending();
      return true;
    }
    if (code == pad_code) {
      if (pending_ == 0) return false;
      // The missing values are zero bits; two or three values carry 1 or 2 bytes.
      group_bytes_ = pending_ == chars_per_group - 1 ? 2 : 1;
      group_ <<= bits_per_char * (chars_per_group - pending_);
      yield_pending();
      return true;
    }
    return std::isspace(c) != 0;
  }

  void yield_pending() {
    yield(group_, group_bytes_);
    group_ = 0;
    pending_ = 0;
  }

  void yield(uint32_t group, size_t bytes) {
    for (size_t k = 0; k < bytes; ++k)
      out_[written_ + k] = static_cast<uint8_t>(group >> (bits_per_byte * (bytes_per_full_group - 1 - k)));
    written_ += bytes;
  }

  uint8_t *out_;
  size_t written_ = 0;
  uint32_t group_ = 0;
  size_t pending_ = 0;
  size_t group_bytes_ = bytes_per_full_group;
};

// Decodes the text and hands the record to read_record(record, length),
// which gives the result: -1 first for a text too short to hold a record
// or missing working memory.
template <class ReadRecord>
ssize_t read_text(const hist_allocator *allocator, const char *b64_text, size_t b64_len, ReadRecord read_record) {
  if (b64_len < shortest_text) return -1;
  // Every group of at least two characters yields fewer bytes than it has
  // characters, so the text's length bounds the decoded record.
  const scratch_buffer scratch(b64_len, allocator);
  if (scratch.data() == nullptr) return -1;
  decoder reader(scratch.data());
  reader.run(reinterpret_cast<const uint8_t *>(b64_text), b64_len);
  const auto decoded = static_cast<ssize_t>(reader.decoded());
  if (decoded < shortest_record) return -1;
  return read_record(scratch.data(), decoded);
}

}  // namespace

extern "C" {

ssize_t hist_serialize_b64_estimate(const histogram *h) {
  return hist_serialize_estimate(h) / static_cast<ssize_t>(bytes_per_full_group) * chars_per_group + chars_per_group;
}

ssize_t hist_serialize_b64(const histogram *h, char *b64_buff, size_t buff_len) {
  const ssize_t estimate = hist_serialize_estimate(h);
  const scratch_buffer scratch(static_cast<size_t>(estimate), h != nullptr ? h->allocator : &default_allocator);
  if (scratch.data() == nullptr) return -1;
  const ssize_t written = hist_serialize(h, scratch.data(), estimate);
  if (written <= 0) return written;
  const size_t length = text_length(static_cast<size_t>(written));
  if (length > buff_len) return 0;
  encode(scratch.data(), static_cast<size_t>(written), b64_buff);
  return static_cast<ssize_t>(length);
}

ssize_t hist_deserialize_b64(histogram *h, const char *b64_text, size_t b64_len) {
  return read_text(h->allocator, b64_text, b64_len, [h](const uint8_t *record, ssize_t length) {
    const ssize_t consumed = hist_deserialize(h, record, length);
    return consumed == length ? consumed : -1;
  });
}

ssize_t hist_deserialize_b64_add(histogram *h, const char *b64_text, size_t b64_len) {
  return read_text(h->allocator, b64_text, b64_len, [h](const uint8_t *record, ssize_t length) {
    return hist_add_record(h, record, length, true);
  });
}

}  // extern "C"
