// HdrHistogram's encoded histograms (base64, "HISTFAAA..." and the older
// V0/V1 forms) one per line, and its interval logs (.hlog).  Each recorded
// value range's count goes to the log-linear bucket of the range's lowest
// value times the unit, through the exact scaled-integer path when the unit
// is a power of ten.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

#include "formats.hpp"
#include "text.hpp"

#ifdef VARROW_HAVE_ZLIB
#include <zlib.h>
#endif

namespace varrow_formats {

namespace {

// The cookies, less the word-size nibble (bits 4..7) that they carry.
constexpr uint32_t word_size_bits = 0xf0;
constexpr int word_size_shift = 4;
constexpr uint32_t cookie_mask = ~word_size_bits;
constexpr uint32_t v0_encoding = 0x1c849308, v0_compressed = 0x1c849309;
constexpr uint32_t v1_encoding = 0x1c849301, v1_compressed = 0x1c849302;
constexpr uint32_t v2_encoding = 0x1c849303, v2_compressed = 0x1c849304;
constexpr std::size_t compression_header = 8;  // cookie, compressed length
// HdrHistogram's own limits of its configuration.
constexpr int max_significant_digits = 5;
constexpr int max_magnitude_sum = 61;
// No valid histogram decodes to more than its counts at 9 bytes each; the
// largest configuration has a few million counts.
constexpr std::size_t max_decoded_bytes = std::size_t{1} << 28;
constexpr int max_leb128_bytes = 9;

[[noreturn]] void fail(const std::string &what) { throw FormatError("HdrHistogram: " + what); }

std::vector<uint8_t> base64_decode(std::string_view text) {
  static constexpr auto table = [] {
    std::array<int8_t, 256> t{};
    t.fill(-1);
    const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) t[static_cast<uint8_t>(alphabet[i])] = static_cast<int8_t>(i);
    return t;
  }();
  std::vector<uint8_t> out;
  uint32_t bits = 0;
  int held = 0;
  std::size_t padding = 0;
  for (const char c : text) {
    if (c == '=') {
      ++padding;
      continue;
    }
    const int v = table[static_cast<uint8_t>(c)];
    if (v < 0 || padding > 0) fail("not base64 text");
    bits = (bits << 6) | uint32_t(v);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out.push_back(uint8_t(bits >> held));
    }
  }
  if (padding > 2 || (text.size() % 4 != 0 && padding > 0)) fail("not base64 text");
  return out;
}

class ByteReader {
 public:
  explicit ByteReader(const std::vector<uint8_t> &bytes, std::size_t from = 0) : bytes_(bytes), pos_(from) {}
  std::size_t left() const { return bytes_.size() - pos_; }
  std::size_t position() const { return pos_; }
  uint64_t big_endian(int width) {
    if (left() < std::size_t(width)) fail("the encoding ends early");
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | bytes_[pos_++];
    return v;
  }
  uint32_t u32() { return uint32_t(big_endian(4)); }
  int32_t i32() { return int32_t(u32()); }
  int64_t i64() { return int64_t(big_endian(8)); }
  // A ZigZag LEB128 number of up to 9 bytes, the last one taking 8 bits.
  int64_t zigzag() {
    uint64_t v = 0;
    for (int i = 0; i < max_leb128_bytes; ++i) {
      if (left() == 0) fail("a count is cut off at the end of the encoding");
      const uint8_t b = bytes_[pos_++];
      if (i == max_leb128_bytes - 1) {
        v |= uint64_t(b) << 56;
        break;
      }
      v |= uint64_t(b & 0x7f) << (7 * i);
      if ((b & 0x80) == 0) break;
    }
    return int64_t(v >> 1) ^ -int64_t(v & 1);
  }

 private:
  const std::vector<uint8_t> &bytes_;
  std::size_t pos_;
};

// The bucket layout of a configuration, as HdrHistogram derives it.
struct Layout {
  int unit_magnitude;
  int sub_bucket_half_count_magnitude;
  int64_t sub_bucket_half_count;
  int64_t counts_len;

  // The lowest value of index i's range; the top ranges reach 2^63.
  uint64_t value_at(int64_t i) const {
    int64_t bucket = (i >> sub_bucket_half_count_magnitude) - 1;
    int64_t sub_bucket = (i & (sub_bucket_half_count - 1)) + sub_bucket_half_count;
    if (bucket < 0) {
      sub_bucket -= sub_bucket_half_count;
      bucket = 0;
    }
    return uint64_t(sub_bucket) << (bucket + unit_magnitude);
  }
};

Layout layout_of(int64_t lowest, int64_t highest, int digits) {
  if (lowest < 1) fail("lowest discernible value " + std::to_string(lowest) + " is below 1");
  if (digits < 1 || digits > max_significant_digits)
    fail(std::to_string(digits) + " significant digits (1 to 5 are valid)");
  if (highest / 2 < lowest) fail("highest trackable value is below twice the lowest");
  int64_t single_unit_limit = 2;
  for (int i = 0; i < digits; ++i) single_unit_limit *= 10;
  const int count_magnitude = int(std::ceil(std::log2(double(single_unit_limit))));
  Layout l{};
  l.sub_bucket_half_count_magnitude = (count_magnitude > 1 ? count_magnitude : 1) - 1;
  l.unit_magnitude = 63 - std::countl_zero(uint64_t(lowest));
  if (l.unit_magnitude + l.sub_bucket_half_count_magnitude > max_magnitude_sum)
    fail("the configuration passes 64-bit values");
  const int64_t sub_bucket_count = int64_t{1} << (l.sub_bucket_half_count_magnitude + 1);
  l.sub_bucket_half_count = sub_bucket_count / 2;
  int64_t smallest_untrackable = sub_bucket_count << l.unit_magnitude;
  int64_t buckets = 1;
  while (smallest_untrackable <= highest) {
    if (smallest_untrackable > INT64_MAX / 2) {
      ++buckets;
      break;
    }
    smallest_untrackable <<= 1;
    ++buckets;
  }
  l.counts_len = (buckets + 1) * l.sub_bucket_half_count;
  return l;
}

std::vector<uint8_t> inflate_payload(const std::vector<uint8_t> &bytes) {
  ByteReader r(bytes, 4);
  const int32_t length = r.i32();
  if (length < 0 || std::size_t(length) > r.left()) fail("the compressed length passes the encoding's end");
#ifdef VARROW_HAVE_ZLIB
  std::vector<uint8_t> out;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw std::bad_alloc();
  z.next_in = const_cast<Bytef *>(bytes.data() + compression_header);
  z.avail_in = uInt(length);
  std::array<uint8_t, 16384> chunk;
  int status = Z_OK;
  while (status == Z_OK) {
    z.next_out = chunk.data();
    z.avail_out = uInt(chunk.size());
    status = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
    if (out.size() > max_decoded_bytes) status = Z_MEM_ERROR;
    if (status == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END) fail("the compressed data is corrupt or cut off");
  return out;
#else
  fail("this build has no zlib, so compressed histograms cannot be read (rebuild with zlib1g-dev installed)");
#endif
}

struct Decoded {
  Layout layout;
  double ratio = 1.0;
  std::vector<std::pair<int64_t, uint64_t>> counts;  // index, count
};

void add_count(Decoded &d, int64_t index, int64_t count) {
  if (count < 0) fail("negative count at index " + std::to_string(index));
  if (index >= d.layout.counts_len) fail("more counts than the configuration holds");
  if (count > 0) d.counts.emplace_back(index, uint64_t(count));
}

Decoded decode_encoding(const std::vector<uint8_t> &bytes) {
  ByteReader r(bytes);
  const uint32_t cookie = r.u32();
  const int word = int((cookie & word_size_bits) >> word_size_shift);
  const uint32_t base = cookie & cookie_mask;
  Decoded d;
  if (base == v0_encoding) {
    const int digits = r.i32();
    const int64_t lowest = r.i64(), highest = r.i64();
    r.i64();  // total count
    d.layout = layout_of(lowest, highest, digits);
    if (word != 2 && word != 4 && word != 8) fail("V0 encoding with a word size of " + std::to_string(word));
    // The counts past the last one written are zero.
    if (r.left() % std::size_t(word) != 0) fail("the counts end within a word");
    for (int64_t i = 0; r.left() > 0; ++i) add_count(d, i, int64_t(r.big_endian(word)));
    return d;
  }
  if (base != v1_encoding && base != v2_encoding) fail("unknown encoding cookie 0x" + [&] {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", cookie);
    return std::string(hex);
  }());
  const int32_t payload = r.i32();
  r.i32();  // normalizing index offset: the counts are written in logical order
  const int digits = r.i32();
  const int64_t lowest = r.i64(), highest = r.i64();
  const uint64_t ratio_bits = r.big_endian(8);
  std::memcpy(&d.ratio, &ratio_bits, sizeof d.ratio);
  if (!(d.ratio > 0) || !std::isfinite(d.ratio)) fail("bad value conversion ratio");
  d.layout = layout_of(lowest, highest, digits);
  if (payload < 0 || std::size_t(payload) != r.left()) fail("the payload length does not match the encoding");
  const std::size_t end = r.position() + std::size_t(payload);
  if (base == v1_encoding) {
    if (word != 2 && word != 4 && word != 8) fail("V1 encoding with a word size of " + std::to_string(word));
    for (int64_t i = 0; r.position() < end; ++i) add_count(d, i, int64_t(r.big_endian(word)));
    return d;
  }
  int64_t index = 0;
  while (r.position() < end) {
    const int64_t v = r.zigzag();
    if (v < 0) {
      if (v == INT64_MIN || -v > d.layout.counts_len - index) fail("a run of zeros passes the configuration's end");
      index += -v;
    } else {
      add_count(d, index++, v);
    }
  }
  return d;
}

// The power of ten that unit is, exactly, or none.
std::optional<int> decimal_exponent(double unit) {
  for (int e = -128; e < 128; ++e)
    if (power_of_ten[uint8_t(e)] == unit) return e;
  return std::nullopt;
}

varrow::Histogram decode(std::string_view text, double unit) {
  const std::vector<uint8_t> bytes = base64_decode(text);
  if (bytes.size() < 4) fail("too short for an encoded histogram");
  const uint32_t base = uint32_t(ByteReader(bytes).big_endian(4)) & cookie_mask;
  const bool compressed = base == v0_compressed || base == v1_compressed || base == v2_compressed;
  const Decoded d = decode_encoding(compressed ? inflate_payload(bytes) : bytes);
  uint64_t total = 0;
  for (const auto &[index, count] : d.counts)
    if (__builtin_add_overflow(total, count, &total)) fail("the counts' total passes 2^64 - 1");
  varrow::Histogram h(varrow::Histogram::Kind::plain, int(std::min<std::size_t>(d.counts.size(), 46082)));
  const std::optional<int> exponent = d.ratio == 1.0 ? decimal_exponent(unit) : std::nullopt;
  for (const auto &[index, count] : d.counts) {
    const uint64_t value = d.layout.value_at(index);
    // The total fits, so a count added short is memory missing.
    const bool exact = exponent && value <= uint64_t(INT64_MAX);
    const uint64_t added = exact ? h.insert_intscale(int64_t(value), *exponent, count)
                                 : h.insert(double(value) * d.ratio * unit, count);
    if (added != count) throw std::bad_alloc();
  }
  return h;
}

// HdrHistogram's log readers: a log without #[BaseTime] whose first
// timestamp lies more than a year before #[StartTime] has relative times.
constexpr double seconds_per_year = 365 * 24 * 3600.0;

struct LogClock {
  std::optional<double> start_time, base_time;
  bool base_settled = false;
  double base = 0;

  double absolute(double stamp) {
    if (!base_settled) {
      base = base_time ? *base_time : (start_time && stamp < *start_time - seconds_per_year) ? *start_time : 0.0;
      base_settled = true;
    }
    return stamp + base;
  }
};

void read_log_comment(std::string_view line, LogClock &clock) {
  for (const auto &[prefix, slot] : {std::pair{std::string_view("#[StartTime: "), &clock.start_time},
                                     std::pair{std::string_view("#[BaseTime: "), &clock.base_time}}) {
    if (!line.starts_with(prefix)) continue;
    std::string_view rest = line.substr(prefix.size());
    rest = rest.substr(0, rest.find(' '));
    if (const std::optional<double> t = parse_double(rest)) *slot = *t;
  }
}

std::vector<std::string_view> split_commas(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t comma = line.find(',');
    fields.push_back(trim(line.substr(0, comma)));
    if (comma == std::string_view::npos) return fields;
    line.remove_prefix(comma + 1);
  }
}

}  // namespace

bool hdr_compression_supported() {
#ifdef VARROW_HAVE_ZLIB
  return true;
#else
  return false;
#endif
}

Entries read_hdr(std::string_view text, double unit) {
  if (!(unit > 0) || !std::isfinite(unit)) fail_at_field("--unit", "must be a positive finite number");
  Entries out;
  LogClock clock;
  for_each_line(text, [&](std::string_view raw, std::size_t number) {
    const std::string_view line = trim(raw);
    if (line.empty()) return true;
    if (line.front() == '#') {
      read_log_comment(line, clock);
      return true;
    }
    if (line.front() == '"') return true;  // the column header
    try {
      if (line.find(',') == std::string_view::npos) {
        out.push_back({"", "", {}, NAN, decode(line, unit)});
        return true;
      }
      std::vector<std::string_view> fields = split_commas(line);
      std::string tag;
      if (fields.front().starts_with("Tag=")) {
        tag = std::string(fields.front().substr(4));
        fields.erase(fields.begin());
      }
      if (fields.size() != 4) fail("an interval line has start,length,max,histogram (" + std::to_string(fields.size()) + " fields here)");
      const char *names[3] = {"start", "interval length", "interval max"};
      double numbers[3];
      for (int i = 0; i < 3; ++i) {
        const std::optional<double> v = parse_double(fields[i]);
        if (!v || !std::isfinite(*v)) fail(std::string("bad ") + names[i] + " '" + std::string(fields[i]) + "'");
        numbers[i] = *v;
      }
      const double start = clock.absolute(numbers[0]);
      std::vector<Label> labels;
      if (!tag.empty()) labels.push_back({"tag", tag});
      out.push_back({tag, "", std::move(labels), start, decode(fields[3], unit)});
    } catch (const FormatError &e) {
      fail_at_line(number, e.what());
    }
    return true;
  });
  return out;
}

}  // namespace varrow_formats
