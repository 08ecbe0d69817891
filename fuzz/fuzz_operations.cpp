// A random sequence of operations on plain and fast histograms and on the
// recorder, each histogram shadowed by a model (a sorted map of bucket to
// count, counts saturating at 2^64 - 1), compared entry for entry after
// every step.  The model orders buckets by its own rule, spelled out below,
// and follows each operation's documented effect step by step.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/check_roundtrip.hpp"

namespace {

// Invalid buckets first, by their raw bits; then negative buckets from the
// most negative; the val-0 buckets by exp; then positive buckets.
struct bucket_order {
  static std::tuple<int, int, int> rank(hist_bucket b) {
    const int val = b.val, exp = b.exp;
    const bool valid = val == 0 || (val >= 10 && val <= 99) || (val <= -10 && val >= -99);
    if (!valid) return {0, static_cast<uint8_t>(b.val), exp};
    if (val < 0) return {1, -exp, val};
    if (val == 0) return {2, exp, 0};
    return {3, exp, val};
  }
  bool operator()(hist_bucket a, hist_bucket b) const { return rank(a) < rank(b); }
};

using model = std::map<hist_bucket, uint64_t, bucket_order>;
using histogram_ptr = std::unique_ptr<histogram, fuzz::histogram_deleter>;

uint64_t saturating_add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

bool is_valid(hist_bucket b) { return std::get<0>(bucket_order::rank(b)) != 0; }
bool is_nan_bucket(hist_bucket b) { return b.val == -1 && b.exp == 0; }

// Adds n to the model's bucket (creating it, also with 0): the amount added.
uint64_t model_add(model &m, hist_bucket b, uint64_t n) {
  uint64_t &count = m[b];
  const uint64_t added = std::min(n, UINT64_MAX - count);
  count += added;
  return added;
}

// As a histogram takes it: a new bucket beyond 65,535 is not added.
uint64_t model_insert(model &m, hist_bucket b, uint64_t n) {
  if (m.size() >= hist_max_entries && m.count(b) == 0) return 0;
  return model_add(m, b, n);
}

void drop_zeroes(model &m) { std::erase_if(m, [](const auto &e) { return e.second == 0; }); }

// The entries a record keeps: counts not 0, valid buckets and the NaN bucket.
model stored(const model &m) {
  model out;
  for (const auto &[b, n] : m)
    if (n != 0 && (is_valid(b) || is_nan_bucket(b))) out[b] = n;
  return out;
}

// Equal to the model entry for entry, in order; every bucket found where it
// is, and no bucket of the probes found unless held.
void print(const histogram *h, const model &m) {
  std::fprintf(stderr, "histogram:");
  for (int i = 0; i < hist_bucket_count(h); ++i) {
    hist_bucket b;
    uint64_t n;
    hist_bucket_idx_bucket(h, i, &b, &n);
    std::fprintf(stderr, " %d,%d:%llu", b.val, b.exp, static_cast<unsigned long long>(n));
  }
  std::fprintf(stderr, "\nmodel:    ");
  for (const auto &[b, n] : m) std::fprintf(stderr, " %d,%d:%llu", b.val, b.exp, static_cast<unsigned long long>(n));
  std::fprintf(stderr, "\n");
}

void check(const histogram *h, const model &m, const std::vector<hist_bucket> &probes) {
  static const bool trace = std::getenv("FUZZ_TRACE") != nullptr;
  if (trace) print(h, m);
  FUZZ_CHECK(hist_bucket_count(h) == static_cast<int>(m.size()));
  int i = 0;
  uint64_t total = 0;
  for (const auto &[b, n] : m) {
    hist_bucket bucket;
    uint64_t count;
    FUZZ_CHECK(hist_bucket_idx_bucket(h, i, &bucket, &count) == 1);
    FUZZ_CHECK(hist_bucket_identical(bucket, b) && count == n);
    int pos = -1;
    FUZZ_CHECK(hist_internal_find(h, b, &pos) == 1 && pos == i);
    total = saturating_add(total, n);
    ++i;
  }
  FUZZ_CHECK(hist_sample_count(h) == total);
  for (const hist_bucket b : probes) {
    int pos = -1;
    FUZZ_CHECK(hist_internal_find(h, b, &pos) == static_cast<int>(m.count(b)));
  }
}

// Values and buckets drawn so that the same buckets come up often: a few
// decades around 1, both signs, zero and the NaN bucket, and now and then
// any double or any raw bucket.
class draws {
 public:
  explicit draws(FuzzedDataProvider &in) : in_(in) {}

  double value() {
    switch (in_.ConsumeIntegralInRange(0, 7)) {
      case 0:
        return in_.ConsumeFloatingPoint<double>();
      case 1:
        return 0.0;
      case 2:
        return std::nan("");
      case 3:
        return in_.ConsumeBool() ? 1e300 : -1e-300;
      default: {
        const double digits = in_.ConsumeIntegralInRange(10, 99) / 10.0;
        const double v = digits * std::pow(10.0, in_.ConsumeIntegralInRange(-3, 3));
        return in_.ConsumeBool() ? -v : v;
      }
    }
  }

  hist_bucket bucket() {
    if (in_.ConsumeIntegralInRange(0, 7) == 0)
      return hist_bucket{in_.ConsumeIntegral<int8_t>(), in_.ConsumeIntegral<int8_t>()};
    return double_to_hist_bucket(value());
  }

  uint64_t count() {
    switch (in_.ConsumeIntegralInRange(0, 5)) {
      case 0:
        return 0;
      case 1:
        return UINT64_MAX - in_.ConsumeIntegralInRange<uint64_t>(0, 3);
      case 2:
        return in_.ConsumeIntegral<uint64_t>();
      default:
        return in_.ConsumeIntegralInRange<uint64_t>(1, 1000);
    }
  }

 private:
  FuzzedDataProvider &in_;
};

constexpr int slots = 4;
constexpr int max_steps = 100;
// Corrections of more steps than this are left out: the model walks them one by one.
constexpr double max_model_steps = 2000;
constexpr int max_sources = 20;
constexpr int max_run = 120;

struct world {
  // Slots 0 and 2 plain, 1 and 3 fast.
  std::array<histogram_ptr, slots> h{histogram_ptr(hist_alloc_nbins(1)), histogram_ptr(hist_fast_alloc_nbins(1)),
                                     histogram_ptr(hist_alloc()), histogram_ptr(hist_fast_alloc())};
  std::array<model, slots> m;
  std::unique_ptr<hist_recorder, decltype(&hist_recorder_free)> recorder{hist_recorder_alloc(), hist_recorder_free};
  model recorded;  // every count the recorder holds
  model reported;  // the counts up to the last snapshot with reset
  std::vector<hist_bucket> probes;
};

// The buckets and steps of a correction as documented: value - k x interval
// for k = 1, 2, ..., floor(value / interval) - 1 (the ratio read with a
// tolerance of four ulps below an integer), a step below interval recorded
// at interval; each step in turn.
template <class Add>
uint64_t model_corrected(double value, double interval, uint64_t count, Add add) {
  uint64_t total = add(double_to_hist_bucket(value), count);
  const double ratio = value / interval;
  if (!(interval > 0) || !(ratio < max_model_steps)) return total;
  const double length = std::floor(ratio * (1 + 4 * std::numeric_limits<double>::epsilon()));
  for (double k = 1; k < length; ++k) {
    const double missing = std::max(value - k * interval, interval);
    total = saturating_add(total, add(double_to_hist_bucket(missing), count));
  }
  return total;
}

bool correction_is_small(double value, double interval) {
  return !(interval > 0) || !(value >= interval + interval) || value / interval < max_model_steps;
}

// A snapshot adds what grew since the last reset, all or (beyond 65,535
// buckets) nothing; with reset, the interval ends.
void recorder_snapshot(world &w, int slot, bool reset) {
  model target = w.m[slot];
  for (const auto &[b, n] : w.recorded) {
    const auto last = w.reported.find(b);
    const uint64_t grown = n - (last == w.reported.end() ? 0 : last->second);
    if (grown != 0) model_add(target, b, grown);
  }
  const int status = hist_recorder_snapshot(w.recorder.get(), w.h[slot].get(), reset);
  if (target.size() > hist_max_entries) {
    FUZZ_CHECK(status == -1);
    return;
  }
  FUZZ_CHECK(status == 0);
  w.m[slot] = target;
  if (reset) w.reported = w.recorded;
}

// hist_accumulate: the target's own entries (the target listed as a source
// stands for them too) and every source's, zero counts included.
void accumulate(world &w, int t, const std::vector<int> &chosen) {
  std::vector<const histogram *> sources;
  model sum = w.m[t];
  for (const int s : chosen) {
    sources.push_back(s < 0 ? nullptr : w.h[s].get());
    if (s >= 0)
      for (const auto &[b, n] : w.m[s]) model_add(sum, b, n);
  }
  const int result = hist_accumulate(w.h[t].get(), sources.data(), static_cast<int>(sources.size()));
  if (sum.size() > hist_max_entries) {
    FUZZ_CHECK(result == -1);
    return;
  }
  FUZZ_CHECK(result == static_cast<int>(sum.size()));
  w.m[t] = sum;
}

// hist_subtract: each source in turn, read as it is at its turn.
void subtract(world &w, int t, const std::vector<int> &chosen) {
  std::vector<const histogram *> sources;
  bool exact = true;
  for (const int s : chosen) {
    sources.push_back(s < 0 ? nullptr : w.h[s].get());
    if (s < 0) continue;
    const model source = w.m[s];
    for (const auto &[b, n] : source) {
      const auto held = w.m[t].find(b);
      if (held == w.m[t].end()) {
        exact = exact && n == 0;
        continue;
      }
      exact = exact && held->second >= n;
      held->second = held->second >= n ? held->second - n : 0;
    }
  }
  FUZZ_CHECK(hist_subtract(w.h[t].get(), sources.data(), static_cast<int>(sources.size())) == (exact ? 0 : -1));
}

// The _as_int64 arithmetic: the target gains src's buckets (all or, beyond
// 65,535, none), counts change modulo 2^64 (src's read as signed deltas when
// added), and only a result wholly in range drops the zero counts.
void signed_delta(world &w, int t, int s, bool add) {
  using wide = __int128;
  model m = w.m[t];
  const model source = w.m[s];
  bool in_range = true;
  for (const auto &[b, n] : source) {
    uint64_t &count = m[b];
    const wide exact = add ? wide{count} + wide{static_cast<int64_t>(n)} : wide{count} - wide{n};
    in_range = in_range && (add ? exact >= 0 && exact <= wide{UINT64_MAX} : exact > -(wide{1} << 63));
    count = add ? count + n : count - n;
  }
  const int result = add ? hist_add_as_int64(w.h[t].get(), w.h[s].get()) : hist_subtract_as_int64(w.h[t].get(), w.h[s].get());
  if (m.size() > hist_max_entries) {
    FUZZ_CHECK(result == -1);
    return;
  }
  FUZZ_CHECK(result == (in_range ? 0 : -1));
  if (in_range) drop_zeroes(m);
  w.m[t] = m;
}

// Whether a valid bucket's closed range [low, high] touches [lower, upper];
// a NaN bound limits nothing.
bool touches(hist_bucket b, double lower, double upper) {
  const double value = hist_bucket_to_double(b), width = hist_bucket_to_double_bin_width(b);
  const double low = value < 0 ? value - width : value, high = value < 0 ? value : value + width;
  return !(low > upper) && !(lower > high);
}

void clamp(world &w, int t, double lower, double upper) {
  model &m = w.m[t];
  const bool had_storage = hist_bucket_count(w.h[t].get()) > 0 || !m.empty();
  hist_clamp(w.h[t].get(), lower, upper);
  if (!had_storage) return;
  const size_t before = m.size();
  std::erase_if(m, [&](const auto &e) { return !is_valid(e.first) || !touches(e.first, lower, upper); });
  if (m.size() != before) drop_zeroes(m);
}

hist_bucket compressed(hist_bucket b, int8_t mbe) {
  if (b.exp < mbe) return hist_bucket{0, 0};
  if (b.exp == mbe) return hist_bucket{static_cast<int8_t>(b.val / 10 * 10), mbe};
  return b;
}

void compress(world &w, int from, int to, int8_t mbe) {
  histogram_ptr result(hist_compress_mbe(w.h[from].get(), mbe));
  FUZZ_CHECK(result != nullptr);
  model m;
  for (const auto &[b, n] : w.m[from]) model_add(m, compressed(b, mbe), n);
  check(result.get(), m, w.probes);
  // The slot keeps its variant: the result is added into a cleared slot.
  hist_clear(w.h[to].get());
  const histogram *source = result.get();
  FUZZ_CHECK(hist_accumulate(w.h[to].get(), &source, 1) == static_cast<int>(m.size()));
  w.m[to] = m;
}

// Thinning draws its counts: each comes out no larger, and the zero counts
// go; ratios outside (0, 1) keep all or nothing, NaN changes nothing.
void downsample(world &w, int t, double ratio) {
  model &m = w.m[t];
  const bool had_storage = hist_bucket_count(w.h[t].get()) > 0;
  hist_downsample(w.h[t].get(), ratio);
  if (std::isnan(ratio) || !had_storage) return;
  model thinned;
  for (int i = 0; i < hist_bucket_count(w.h[t].get()); ++i) {
    hist_bucket b;
    uint64_t n;
    hist_bucket_idx_bucket(w.h[t].get(), i, &b, &n);
    const auto held = m.find(b);
    FUZZ_CHECK(held != m.end() && n != 0 && n <= held->second);
    if (ratio >= 1) FUZZ_CHECK(n == held->second);
    thinned[b] = n;
  }
  if (ratio <= 0) FUZZ_CHECK(thinned.empty());
  m = thinned;
}

// Through the record or its text into another slot, replacing or adding.
void transfer(world &w, int from, int to, int how) {
  const histogram *h = w.h[from].get();
  std::vector<uint8_t> record(static_cast<size_t>(hist_serialize_estimate(h)));
  const auto length = static_cast<ssize_t>(record.size());
  FUZZ_CHECK(hist_serialize(h, record.data(), length) == length);
  std::string text(static_cast<size_t>(hist_serialize_b64_estimate(h)), '\0');
  const ssize_t chars = hist_serialize_b64(h, text.data(), text.size());
  FUZZ_CHECK(chars > 0);
  const model kept = stored(w.m[from]);
  histogram *target = w.h[to].get();
  switch (how) {
    case 0:
      FUZZ_CHECK(hist_deserialize(target, record.data(), length) == length);
      w.m[to] = kept;
      return;
    case 1:
      FUZZ_CHECK(hist_deserialize_b64(target, text.data(), static_cast<size_t>(chars)) == length);
      w.m[to] = kept;
      return;
    default: {
      model sum = w.m[to];
      for (const auto &[b, n] : kept) model_add(sum, b, n);
      const ssize_t expected = sum.size() > hist_max_entries ? -1 : length;
      const ssize_t added = how == 2 ? hist_deserialize_add(target, record.data(), length)
                                     : hist_deserialize_b64_add(target, text.data(), static_cast<size_t>(chars));
      FUZZ_CHECK(added == expected);
      if (added >= 0) w.m[to] = sum;
    }
  }
}

void clone_into(world &w, int from, int to) {
  histogram_ptr copy(hist_clone(w.h[from].get()));
  FUZZ_CHECK(copy != nullptr);
  check(copy.get(), w.m[from], w.probes);
  // A copy of the source's variant stands in for the target slot only when
  // the variants agree, so that plain and fast slots stay what they are.
  if ((from % 2) == (to % 2)) {
    w.h[to] = std::move(copy);
    w.m[to] = w.m[from];
  }
}

// Read-only queries never disturb the histogram and answer in range.
void query(world &w, int t, FuzzedDataProvider &in) {
  const histogram *h = w.h[t].get();
  double q[3] = {in.ConsumeProbability<double>(), in.ConsumeProbability<double>(), in.ConsumeProbability<double>()};
  std::sort(q, q + 3);
  double out[3];
  FUZZ_CHECK(hist_approx_quantile(h, q, 3, out) == 0);
  FUZZ_CHECK(hist_approx_quantile7(h, q, 3, out) == 0);
  const double x[2] = {-1.0, 1.0};
  double share[2];
  FUZZ_CHECK(hist_approx_inverse_quantile(h, x, 2, share) == 0);
  hist_approx_mean(h);
  hist_approx_stddev(h);
  const double threshold = draws(in).value();
  FUZZ_CHECK(hist_approx_count_below_exclusive(h, threshold) <= hist_approx_count_below_inclusive(h, threshold));
}

std::vector<int> choose_sources(FuzzedDataProvider &in, int most) {
  std::vector<int> chosen(in.ConsumeIntegralInRange(0, most));
  for (int &s : chosen) s = in.ConsumeIntegralInRange(-1, slots - 1);
  return chosen;
}

void step(world &w, FuzzedDataProvider &in) {
  draws d(in);
  const int t = in.ConsumeIntegralInRange(0, slots - 1);
  histogram *h = w.h[t].get();
  model &m = w.m[t];
  const int operation = in.ConsumeIntegralInRange(0, 21);
  // With FUZZ_TRACE set, each step names its operation and slot.
  static const bool trace = std::getenv("FUZZ_TRACE") != nullptr;
  if (trace) std::fprintf(stderr, "step: operation %d on slot %d\n", operation, t);
  switch (operation) {
    case 0: {
      const double v = d.value();
      const uint64_t n = d.count();
      FUZZ_CHECK(hist_insert(h, v, n) == model_insert(m, double_to_hist_bucket(v), n));
      break;
    }
    case 1: {
      const hist_bucket b = d.bucket();
      const uint64_t n = d.count();
      w.probes.push_back(b);
      FUZZ_CHECK(hist_insert_raw(h, b, n) == model_insert(m, b, n));
      break;
    }
    case 2: {
      const hist_bucket b = d.bucket();
      const uint64_t n = d.count();
      FUZZ_CHECK(hist_insert_raw_end(h, b, n) == model_insert(m, b, n));
      break;
    }
    case 3: {
      const auto v = in.ConsumeIntegral<int64_t>() >> in.ConsumeIntegralInRange(0, 63);
      const int scale = in.ConsumeIntegralInRange(-140, 140);
      const uint64_t n = d.count();
      if (trace) std::fprintf(stderr, "  %lld x 10^%d\n", static_cast<long long>(v), scale);
      FUZZ_CHECK(hist_insert_intscale(h, v, scale, n) == model_insert(m, int_scale_to_hist_bucket(v, scale), n));
      break;
    }
    case 4: {
      const double v = d.value(), interval = v / in.ConsumeFloatingPointInRange(0.25, max_model_steps);
      const uint64_t n = d.count();
      if (!correction_is_small(v, interval)) break;
      const uint64_t expected = model_corrected(v, interval, n, [&](hist_bucket b, uint64_t k) { return model_insert(m, b, k); });
      FUZZ_CHECK(hist_insert_corrected(h, v, interval, n) == expected);
      break;
    }
    case 5: {
      // A run of consecutive buckets: histograms large enough for the
      // dense merge and for growth past many steps.
      const int run = in.ConsumeIntegralInRange(1, max_run);
      const int8_t exp = in.ConsumeIntegralInRange<int8_t>(-128, 127);
      for (int i = 0; i < run; ++i) {
        const hist_bucket b{static_cast<int8_t>(10 + i % 90), static_cast<int8_t>(exp + i / 90)};
        FUZZ_CHECK(hist_insert_raw_end(h, b, 1) == model_insert(m, b, 1));
      }
      break;
    }
    case 6: {
      const hist_bucket b = in.ConsumeBool() ? d.bucket() : double_to_hist_bucket(d.value());
      const uint64_t n = d.count();
      const auto held = m.find(b);
      const uint64_t removed = held == m.end() ? 0 : std::min(held->second, n);
      FUZZ_CHECK(hist_remove_raw(h, b, n) == removed);
      if (held != m.end()) held->second -= removed;
      break;
    }
    case 7:
      hist_remove_zeroes(h);
      drop_zeroes(m);
      break;
    case 8:
      accumulate(w, t, choose_sources(in, 4));
      break;
    case 9:
      accumulate(w, t, choose_sources(in, max_sources));
      break;
    case 10:
      subtract(w, t, choose_sources(in, 3));
      break;
    case 11:
      signed_delta(w, t, in.ConsumeIntegralInRange(0, slots - 1), true);
      break;
    case 12:
      signed_delta(w, t, in.ConsumeIntegralInRange(0, slots - 1), false);
      break;
    case 13: {
      const double lower = d.value(), upper = d.value();
      clamp(w, t, lower, upper);
      break;
    }
    case 14:
      compress(w, t, in.ConsumeIntegralInRange(0, slots - 1), in.ConsumeIntegral<int8_t>());
      break;
    case 15: {
      const double ratios[] = {-1, 0, 0.3, 0.5, 0.999, 1, 2, std::nan("")};
      srand48(in.ConsumeIntegral<long>());
      downsample(w, t, ratios[in.ConsumeIntegralInRange(0, 7)]);
      break;
    }
    case 16:
      transfer(w, t, in.ConsumeIntegralInRange(0, slots - 1), in.ConsumeIntegralInRange(0, 3));
      break;
    case 17:
      clone_into(w, t, in.ConsumeIntegralInRange(0, slots - 1));
      break;
    case 18:
      hist_clear(h);
      m.clear();
      break;
    case 19: {
      const double v = d.value();
      const uint64_t n = d.count();
      if (in.ConsumeBool()) {
        FUZZ_CHECK(hist_recorder_insert(w.recorder.get(), v, n) == model_add(w.recorded, double_to_hist_bucket(v), n));
        break;
      }
      const double interval = v / in.ConsumeFloatingPointInRange(0.25, max_model_steps);
      if (!correction_is_small(v, interval)) break;
      const uint64_t expected =
          model_corrected(v, interval, n, [&](hist_bucket b, uint64_t k) { return model_add(w.recorded, b, k); });
      FUZZ_CHECK(hist_recorder_insert_corrected(w.recorder.get(), v, interval, n) == expected);
      break;
    }
    case 20:
      recorder_snapshot(w, t, in.ConsumeBool());
      break;
    default:
      query(w, t, in);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  world w;
  for (int i = 0; i < max_steps && in.remaining_bytes() > 0; ++i) {
    step(w, in);
    for (int s = 0; s < slots; ++s) check(w.h[s].get(), w.m[s], w.probes);
  }
  return 0;
}
