// varrow.hpp: a header-only C++20 interface over the varrow C API.
//
// varrow::Histogram owns one histogram (plain or fast) and releases it with
// hist_free.  It is move-only; copy with clone().
//
// Errors: where the C API reports a failure through a return code, the
// wrapper throws varrow::Error carrying that code: text that is not a
// histogram (from_base64), probability or value lists that are not ascending
// (-2) or hold a probability outside 0..1 (-3), a merge that would pass
// 65,535 buckets or lacks working memory (-1).  Whether a subtraction was
// exact is a result, not an error: subtract() returns it.  Output spans of
// the wrong length throw std::invalid_argument; a failed allocation throws
// std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "varrow.h"

namespace varrow {

// A failure reported by the C API, with its return code.
class Error : public std::runtime_error {
 public:
  Error(const std::string &what, long long code) : std::runtime_error(what), code_(code) {}
  long long code() const noexcept { return code_; }

 private:
  long long code_;
};

// A bucket as a value with its describing numbers.
struct Bucket {
  hist_bucket raw;

  static Bucket of(double value) noexcept { return {double_to_hist_bucket(value)}; }
  static Bucket of(int64_t value, int scale) noexcept { return {int_scale_to_hist_bucket(value, scale)}; }
  double value() const noexcept { return hist_bucket_to_double(raw); }
  double width() const noexcept { return hist_bucket_to_double_bin_width(raw); }
  double midpoint() const noexcept { return hist_bucket_midpoint(raw); }
  std::string str() const {
    char text[9];
    const int length = hist_bucket_to_string(raw, text);
    return std::string(text, static_cast<size_t>(length));
  }
  friend bool operator==(Bucket a, Bucket b) noexcept { return a.raw.val == b.raw.val && a.raw.exp == b.raw.exp; }
};

// One entry of a histogram, as enumerated in bucket order.
struct BucketCount {
  Bucket bucket;
  uint64_t count;
};

class Histogram {
 public:
  enum class Kind { plain, fast };

  // An empty histogram; nbins is the initial capacity (0 for the default).
  explicit Histogram(Kind kind = Kind::plain, int nbins = 0, const hist_allocator &allocator = default_allocator)
      : h_(kind == Kind::fast ? hist_fast_alloc_nbins_with_allocator(nbins, &allocator)
                              : hist_alloc_nbins_with_allocator(nbins, &allocator)) {
    if (!h_) throw std::bad_alloc();
  }

  // Takes ownership of a histogram from the C API (not null).
  static Histogram adopt(histogram *h) {
    if (!h) throw std::bad_alloc();
    return Histogram(h);
  }

  // Reads base64 text; throws Error when it does not hold exactly one histogram.
  static Histogram from_base64(std::string_view text, Kind kind = Kind::plain) {
    Histogram result(kind);
    const ssize_t read = hist_deserialize_b64(result.h_, text.data(), text.size());
    if (read < 0) throw Error("varrow: text is not a base64 histogram", read);
    return result;
  }

  Histogram(const Histogram &) = delete;
  Histogram &operator=(const Histogram &) = delete;
  Histogram(Histogram &&other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  Histogram &operator=(Histogram &&other) noexcept {
    if (this != &other) {
      hist_free(h_);
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  ~Histogram() { hist_free(h_); }

  // An independent copy of the same kind (default allocator).
  Histogram clone() const { return adopt(hist_clone(h_)); }

  // The C histogram, still owned by this object; null after a move.
  histogram *get() noexcept { return h_; }
  const histogram *get() const noexcept { return h_; }
  // Gives up ownership: the caller releases the result with hist_free.
  histogram *release() noexcept { return std::exchange(h_, nullptr); }

  // Insertion and removal return the amount that actually changed.
  uint64_t insert(double value, uint64_t count = 1) noexcept { return hist_insert(h_, value, count); }
  uint64_t insert(Bucket bucket, uint64_t count = 1) noexcept { return hist_insert_raw(h_, bucket.raw, count); }
  uint64_t insert_intscale(int64_t value, int scale, uint64_t count = 1) noexcept {
    return hist_insert_intscale(h_, value, scale, count);
  }
  uint64_t insert_corrected(double value, double expected_interval, uint64_t count = 1) noexcept {
    return hist_insert_corrected(h_, value, expected_interval, count);
  }
  uint64_t remove(double value, uint64_t count = 1) noexcept { return hist_remove(h_, value, count); }
  uint64_t remove(Bucket bucket, uint64_t count = 1) noexcept { return hist_remove_raw(h_, bucket.raw, count); }
  void remove_zeroes() noexcept { hist_remove_zeroes(h_); }
  void clear() noexcept { hist_clear(h_); }

  // Adds other's counts (saturating).  Throws Error when the merge fails.
  Histogram &operator+=(const Histogram &other) {
    const histogram *sources[] = {other.h_};
    const int status = hist_accumulate(h_, sources, 1);
    if (status < 0) throw Error("varrow: histograms could not be merged", status);
    return *this;
  }

  // Subtracts other's counts, clamping at 0: true when every count was
  // subtracted in full.
  [[nodiscard]] bool subtract(const Histogram &other) noexcept {
    const histogram *sources[] = {other.h_};
    return hist_subtract(h_, sources, 1) == 0;
  }

  size_t bucket_count() const noexcept { return static_cast<size_t>(hist_bucket_count(h_)); }
  uint64_t sample_count() const noexcept { return hist_sample_count(h_); }

  double mean() const noexcept { return hist_approx_mean(h_); }
  double sum() const noexcept { return hist_approx_sum(h_); }
  double stddev() const noexcept { return hist_approx_stddev(h_); }
  double moment(double k) const noexcept { return hist_approx_moment(h_, k); }
  uint64_t count_nearby(double value) const noexcept { return hist_approx_count_nearby(h_, value); }
  uint64_t count_below(double threshold) const noexcept { return hist_approx_count_below_inclusive(h_, threshold); }
  uint64_t count_below_exclusive(double threshold) const noexcept {
    return hist_approx_count_below_exclusive(h_, threshold);
  }
  uint64_t count_above(double threshold) const noexcept { return hist_approx_count_above_inclusive(h_, threshold); }
  uint64_t count_above_exclusive(double threshold) const noexcept {
    return hist_approx_count_above_exclusive(h_, threshold);
  }

  // Quantiles of ascending probabilities (rank ceil(qN), or the
  // interpolating rank (N - 1)q + 1 with quantiles7), and the share of
  // samples below ascending values.  Throw Error on an unsorted list or a
  // probability outside 0..1.
  void quantiles(std::span<const double> q, std::span<double> out) const { batch(hist_approx_quantile, q, out); }
  void quantiles7(std::span<const double> q, std::span<double> out) const { batch(hist_approx_quantile7, q, out); }
  void inverse_quantiles(std::span<const double> values, std::span<double> out) const {
    batch(hist_approx_inverse_quantile, values, out);
  }
  std::vector<double> quantiles(std::span<const double> q) const { return batch_vector(hist_approx_quantile, q); }
  std::vector<double> quantiles7(std::span<const double> q) const { return batch_vector(hist_approx_quantile7, q); }
  std::vector<double> inverse_quantiles(std::span<const double> values) const {
    return batch_vector(hist_approx_inverse_quantile, values);
  }
  double quantile(double q) const { return quantiles(std::span<const double>(&q, 1)).front(); }

  // The record as base64 text (empty histogram: "AAA=").
  std::string to_base64() const {
    std::string text(static_cast<size_t>(hist_serialize_b64_estimate(h_)), '\0');
    const ssize_t written = hist_serialize_b64(h_, text.data(), text.size());
    if (written <= 0) throw Error("varrow: histogram could not be written as base64", written);
    text.resize(static_cast<size_t>(written));
    return text;
  }

  // Range-for over the entries in bucket order.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = BucketCount;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = BucketCount;

    const_iterator() = default;
    const_iterator(const histogram *h, int idx) : h_(h), idx_(idx) {}
    BucketCount operator*() const {
      BucketCount entry{};
      hist_bucket_idx_bucket(h_, idx_, &entry.bucket.raw, &entry.count);
      return entry;
    }
    const_iterator &operator++() {
      ++idx_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++idx_;
      return before;
    }
    friend bool operator==(const const_iterator &a, const const_iterator &b) { return a.idx_ == b.idx_; }

   private:
    const histogram *h_ = nullptr;
    int idx_ = 0;
  };
  const_iterator begin() const { return const_iterator(h_, 0); }
  const_iterator end() const { return const_iterator(h_, hist_bucket_count(h_)); }

 private:
  explicit Histogram(histogram *h) noexcept : h_(h) {}

  using BatchFunction = int (*)(const histogram *, const double *, int, double *);

  void batch(BatchFunction function, std::span<const double> in, std::span<double> out) const {
    if (out.size() != in.size()) throw std::invalid_argument("varrow: output span length differs from input");
    const int status = function(h_, in.data(), static_cast<int>(in.size()), out.data());
    if (status == -2) throw Error("varrow: list is not in ascending order", status);
    if (status == -3) throw Error("varrow: probability outside 0..1", status);
    if (status < 0) throw Error("varrow: quantile batch failed", status);
  }
  std::vector<double> batch_vector(BatchFunction function, std::span<const double> in) const {
    std::vector<double> out(in.size());
    batch(function, in, out);
    return out;
  }

  histogram *h_;
};

// A thread-safe recorder: any number of threads insert concurrently, one
// thread at a time takes snapshots.  Move-only; owns its hist_recorder.
class Recorder {
 public:
  Recorder() : r_(hist_recorder_alloc()) {
    if (!r_) throw std::bad_alloc();
  }
  Recorder(const Recorder &) = delete;
  Recorder &operator=(const Recorder &) = delete;
  Recorder(Recorder &&other) noexcept : r_(std::exchange(other.r_, nullptr)) {}
  Recorder &operator=(Recorder &&other) noexcept {
    if (this != &other) {
      hist_recorder_free(r_);
      r_ = std::exchange(other.r_, nullptr);
    }
    return *this;
  }
  ~Recorder() { hist_recorder_free(r_); }

  hist_recorder *get() noexcept { return r_; }

  // Return the amount added.
  uint64_t insert(double value, uint64_t count = 1) noexcept { return hist_recorder_insert(r_, value, count); }
  uint64_t insert_intscale(int64_t value, int scale, uint64_t count = 1) noexcept {
    return hist_recorder_insert_intscale(r_, value, scale, count);
  }
  uint64_t insert_corrected(double value, double expected_interval, uint64_t count = 1) noexcept {
    return hist_recorder_insert_corrected(r_, value, expected_interval, count);
  }

  // Adds everything recorded since the last reset into out; with reset,
  // starts a new interval.  Throws Error when memory is missing.
  void snapshot_into(Histogram &out, bool reset) {
    const int status = hist_recorder_snapshot(r_, out.get(), reset);
    if (status < 0) throw Error("varrow: recorder snapshot failed", status);
  }
  // The samples recorded since the last reset, in a new histogram; starts a new interval.
  Histogram interval(Histogram::Kind kind = Histogram::Kind::plain) {
    Histogram out(kind);
    snapshot_into(out, true);
    return out;
  }

 private:
  hist_recorder *r_;
};

}  // namespace varrow
