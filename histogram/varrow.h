/* varrow: log-linear histograms of measured values.
 *
 * A bucket keeps the first two significant decimal digits of a value with its
 * sign, and a power of ten: val/10 x 10^exp.  Histograms are sorted arrays of
 * buckets with 64-bit sample counts.  Plain C interface with C linkage. */
#ifndef VARROW_H
#define VARROW_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

/* VARROW_VERSION_MAJOR, _MINOR, _PATCH and _STRING: the version of these
 * headers. */
#include "varrow_version.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The libraries are built with hidden visibility: what is declared here is
 * the whole exported interface. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* ---- Version ------------------------------------------------------------ */

/* The version of the library linked in, as VARROW_VERSION_STRING ("0.2.0");
 * it differs from the headers' macros only when a shared library was swapped. */
const char *hist_version(void);

/* ---- Buckets ------------------------------------------------------------ */

/* One bucket: val is 10..99 (or -99..-10) significant digits, exp a power of
 * ten; val 0 is zero.  val -1, exp 0 is the NaN bucket. */
typedef struct hist_bucket {
  int8_t val;
  int8_t exp;
} hist_bucket;

/* power_of_ten[(uint8_t)e] is the double nearest 10^e for e in -128..127. */
extern const double power_of_ten[256];

/* The bucket holding d: the NaN bucket for NaN, infinities and magnitudes of
 * 1e128 and above; the zero bucket for zero and magnitudes below 1e-128. */
hist_bucket double_to_hist_bucket(double d);
/* The bucket holding value x 10^scale, computed in integer arithmetic. */
hist_bucket int_scale_to_hist_bucket(int64_t value, int scale);
/* The bucket's value (NaN for an invalid bucket, 0 for val 0). */
double hist_bucket_to_double(hist_bucket hb);
/* The bucket's width, always positive (NaN when invalid, 0 for val 0). */
double hist_bucket_to_double_bin_width(hist_bucket hb);
/* The harmonic mean of the bucket's two edges, used for sums and moments. */
double hist_bucket_midpoint(hist_bucket hb);
/* Writes "NaN", "0" or eight characters such as "+23e-005" and a NUL into
 * buf (at least 9 bytes); returns the number of characters written. */
int hist_bucket_to_string(hist_bucket hb, char *buf);

/* ---- Histogram container ------------------------------------------------ */

#if defined(__GNUC__)
#define VARROW_PACKED __attribute__((packed))
#else
#define VARROW_PACKED
#endif

/* A bucket and its sample count, packed into 10 bytes. */
typedef struct VARROW_PACKED hist_bucket_entry {
  hist_bucket bucket;
  uint64_t count;
} hist_bucket_entry;

/* Where a histogram takes all of its memory from.  free must accept NULL.
 * The record belongs to the caller and must outlive its histograms. */
typedef struct hist_allocator {
  void *(*malloc)(size_t size);
  void *(*calloc)(size_t nmemb, size_t size);
  void (*free)(void *ptr);
} hist_allocator;

/* The C library's malloc, calloc and free. */
extern const hist_allocator default_allocator;

/* Opaque; create with hist_alloc* or hist_fast_alloc*, release with hist_free. */
typedef struct histogram histogram;

/* Creation: nbins is the initial capacity (0 or less gives 100, more than
 * 46,082 gives 46,082).  The fast variant adds a direct lookup index.  The
 * caller owns the result and releases it with hist_free; NULL when the
 * allocator fails. */
histogram *hist_alloc(void);
histogram *hist_alloc_nbins(int nbins);
histogram *hist_alloc_with_allocator(const hist_allocator *allocator);
histogram *hist_alloc_nbins_with_allocator(int nbins, const hist_allocator *allocator);
histogram *hist_fast_alloc(void);
histogram *hist_fast_alloc_nbins(int nbins);
histogram *hist_fast_alloc_with_allocator(const hist_allocator *allocator);
histogram *hist_fast_alloc_nbins_with_allocator(int nbins, const hist_allocator *allocator);
/* An independent copy of src (same variant), or NULL when the allocator
 * fails; hist_clone uses default_allocator. */
histogram *hist_clone(const histogram *src);
histogram *hist_clone_with_allocator(const histogram *src, const hist_allocator *allocator);
/* Releases h and all its memory; NULL does nothing. */
void hist_free(histogram *h);
/* Empties h, keeping its storage. */
void hist_clear(histogram *h);

/* Number of entries (buckets) held. hist_bucket_count accepts NULL (0). */
int hist_num_buckets(const histogram *h);
int hist_bucket_count(const histogram *h);
/* Entry at position idx in bucket order: 1 and the outputs written, or 0 and
 * nothing written when idx is out of range. */
int hist_bucket_idx(const histogram *h, int idx, double *value, uint64_t *count);
int hist_bucket_idx_bucket(const histogram *h, int idx, hist_bucket *bucket, uint64_t *count);

/* ---- Insertion and removal ---------------------------------------------- */

/* Each returns the amount actually added or removed: counts saturate at
 * 2^64 - 1 and removal stops at 0.  A new bucket for which h's allocator
 * cannot supply memory is not added (result 0, h unchanged); a corrected
 * insertion takes the memory of its whole series first, and adds nothing
 * without it.  h must not be NULL. */
uint64_t hist_insert_raw(histogram *h, hist_bucket hb, uint64_t count);
/* As hist_insert_raw, in constant time when buckets arrive in ascending order. */
uint64_t hist_insert_raw_end(histogram *h, hist_bucket hb, uint64_t count);
uint64_t hist_insert(histogram *h, double value, uint64_t count);
uint64_t hist_insert_intscale(histogram *h, int64_t value, int scale, uint64_t count);
/* Records value and, correcting for coordinated omission as HdrHistogram
 * does, also value - k x expected_interval for k = 1, 2, ... while that stays
 * at or above expected_interval, each count times: the total amount added.
 * The series holds floor(value / expected_interval) values, a ratio within
 * four ulps below an integer counting as that integer, so that decimal
 * inputs such as 1.0 at 0.1 give their 10 values (1.0, 0.9, ..., 0.1); a last
 * value that rounding put just below expected_interval is recorded as
 * expected_interval.  No correction is made for an interval that is not
 * positive, or so small that value holds it 2^53 times or more. */
uint64_t hist_insert_corrected(histogram *h, double value, double expected_interval, uint64_t count);
uint64_t hist_remove_raw(histogram *h, hist_bucket hb, uint64_t count);
uint64_t hist_remove(histogram *h, double value, uint64_t count);
/* Drops the entries whose count is 0; NULL does nothing. */
void hist_remove_zeroes(histogram *h);
/* Total of all counts, saturated at 2^64 - 1; 0 for NULL. */
uint64_t hist_sample_count(const histogram *h);

/* ---- Thread-safe recorder ------------------------------------------------ */

/* Any number of threads insert concurrently without contending (each thread
 * counts into a shard of its own, which stays when the thread exits) while
 * one thread at a time takes snapshots.  Every sample lands in exactly one
 * snapshot taken with reset. */
typedef struct hist_recorder hist_recorder;
/* A new, empty recorder, or NULL when memory is missing. */
hist_recorder *hist_recorder_alloc(void);
/* The same, taking all of the recorder's memory from allocator, which any
 * inserting thread may call. */
hist_recorder *hist_recorder_alloc_with_allocator(const hist_allocator *allocator);
/* Releases r (NULL does nothing); no thread may use it any more. */
void hist_recorder_free(hist_recorder *r);
/* As hist_insert, hist_insert_intscale and hist_insert_corrected: the amount
 * added (0 when the thread's shard or a count page could not be allocated;
 * a corrected insertion then records nothing of its series).  r must not be
 * NULL. */
uint64_t hist_recorder_insert(hist_recorder *r, double value, uint64_t count);
uint64_t hist_recorder_insert_intscale(hist_recorder *r, int64_t value, int scale, uint64_t count);
uint64_t hist_recorder_insert_corrected(hist_recorder *r, double value, double expected_interval, uint64_t count);
/* Adds everything recorded since the last reset into out (a plain or fast
 * histogram); with reset set, starts a new interval.  0, or -1 on failure
 * (out and the interval unchanged): r or out NULL, memory missing (working
 * memory comes from out's allocator), or out would pass 65,535 buckets. */
int hist_recorder_snapshot(hist_recorder *r, histogram *out, int reset);

/* ---- Serialized form ---------------------------------------------------- */

/* Width limits of a serialized count: row k holds 2^(8(k+1)) - 1; a count
 * takes k + 1 bytes for the first row k whose limit is at least the count. */
extern const uint64_t bvl_limits[7];

/* Exact length in bytes that hist_serialize writes (2 for NULL or empty). */
ssize_t hist_serialize_estimate(const histogram *h);
/* Writes the record (2-byte big-endian bucket count, then per non-zero bucket
 * val, exp, width byte and 1..8 little-endian count bytes) into buff: the
 * bytes written, or -1 when buff_len is too small.  h may be NULL. */
ssize_t hist_serialize(const histogram *h, void *buff, ssize_t buff_len);
/* Replaces h's content with the record in buff: the bytes consumed, or -1
 * (h then empty, without entry array), also when h's allocator fails.  Unordered or repeated buckets are put
 * in order and their counts added. */
ssize_t hist_deserialize(histogram *h, const void *buff, ssize_t buff_len);
/* Adds the buckets of the record in buff into h (plain or fast), keeping
 * what h holds: counts saturate at 2^64 - 1, unordered or repeated buckets
 * are added as hist_deserialize adds them, and the record is read and
 * validated exactly as hist_deserialize reads it (bytes after the last
 * record are left, zero counts and invalid buckets other than the NaN bucket
 * skipped).  The bytes consumed, or -1 with h unchanged: a broken record,
 * missing memory, or a result beyond 65,535 buckets. */
ssize_t hist_deserialize_add(histogram *h, const void *buff, ssize_t buff_len);
/* Upper bound of the base64 text length: (estimate / 3) x 4 + 4. */
ssize_t hist_serialize_b64_estimate(const histogram *h);
/* Writes the record as base64 text, without NUL: the characters written, 0
 * when buff_len is too small, -1 when working memory is missing. */
ssize_t hist_serialize_b64(const histogram *h, char *b64_buff, size_t buff_len);
/* Replaces h's content with the record read from base64 text, skipping white
 * space and stopping at any other non-base64 byte: the record bytes read, or
 * -1 unless the text decodes to exactly one valid record. */
ssize_t hist_deserialize_b64(histogram *h, const char *b64_text, size_t b64_len);
/* The base64 text read as hist_deserialize_b64 reads it, its record added
 * into h as hist_deserialize_add adds it: the record bytes read, or -1 with h
 * unchanged unless the text decodes to exactly one valid record that fits. */
ssize_t hist_deserialize_b64_add(histogram *h, const char *b64_text, size_t b64_len);

/* ---- Merging and arithmetic --------------------------------------------- */

/* Adds the counts of cnt source histograms (NULL entries are empty) into tgt,
 * bucket by bucket, saturating: tgt's new number of buckets, or -1 (tgt
 * unchanged) when working memory, the new entry array or fast-index memory is
 * missing, or the result would pass 65,535 buckets. */
int hist_accumulate(histogram *tgt, const histogram *const *src, int cnt);
/* Subtracts each source's counts from tgt, clamping at 0, without adding or
 * removing buckets: 0 when every count was subtracted in full, else -1. */
int hist_subtract(histogram *tgt, const histogram *const *src, int cnt);
/* Adds src's counts, read as signed 64-bit deltas, modulo 2^64: 0, or -1 when
 * a result leaves 0..2^64-1.  On 0 the zero-count buckets are dropped. */
int hist_add_as_int64(histogram *tgt, const histogram *src);
/* Subtracts src's counts modulo 2^64: 0, or -1 when a result read as signed
 * would be -2^63 or lower.  On 0 the zero-count buckets are dropped. */
int hist_subtract_as_int64(histogram *tgt, const histogram *src);

/* ---- Counts and moments ------------------------------------------------- */

/* Every function here accepts NULL, skips invalid buckets and lets each
 * bucket's midpoint stand for its samples.  Mean, deviation and moment are
 * NaN when there are no samples; the sum is then 0. */
double hist_approx_mean(const histogram *h);
double hist_approx_sum(const histogram *h);
/* Population standard deviation; never negative or NaN when samples exist. */
double hist_approx_stddev(const histogram *h);
/* Sum of count x midpoint^k divided by (total count)^k. */
double hist_approx_moment(const histogram *h, double k);
/* Count of the bucket that value converts to; 0 when the histogram lacks it
 * or it is the NaN bucket. */
uint64_t hist_approx_count_nearby(const histogram *h, double value);
/* The threshold counts take whole buckets and saturate at 2^64 - 1.
 * Samples in the buckets up to and including the bucket of threshold. */
uint64_t hist_approx_count_below(const histogram *h, double threshold);
uint64_t hist_approx_count_below_inclusive(const histogram *h, double threshold);
/* Samples in the buckets below the bucket of threshold. */
uint64_t hist_approx_count_below_exclusive(const histogram *h, double threshold);
/* All samples (invalid buckets included) but those below the bucket of
 * threshold. */
uint64_t hist_approx_count_above(const histogram *h, double threshold);
uint64_t hist_approx_count_above_inclusive(const histogram *h, double threshold);
/* All samples but those up to and including the bucket of threshold. */
uint64_t hist_approx_count_above_exclusive(const histogram *h, double threshold);

/* ---- Quantiles ---------------------------------------------------------- */

/* Batch estimators over n probabilities in ascending order (NaN entries give
 * NaN and are ignored by the order test), one forward walk for the batch.
 * Status 0 (also for n <= 0 and for NaN results when there are no samples),
 * -2 when the list is not ascending, -3 when a probability lies outside
 * 0..1; on an error nothing is written.  hist_approx_quantile takes the sample of rank
 * ceil(q x N), hist_approx_quantile7 the one of rank floor((N - 1) x q + 1). */
int hist_approx_quantile(const histogram *h, const double *q_in, int nq, double *q_out);
int hist_approx_quantile7(const histogram *h, const double *q_in, int nq, double *q_out);
/* The share of samples below each of n ascending values, interpolated inside
 * a bucket; NaN values give NaN.  Status 0, or -2 (nothing written) when the
 * list is not ascending. */
int hist_approx_inverse_quantile(const histogram *h, const double *in, int n, double *out);

/* ---- Reshaping ---------------------------------------------------------- */

/* Keeps only the buckets whose range touches [lower, upper] (closed), whole;
 * drops invalid buckets.  A NaN bound sets no limit on its side.  Zero-count
 * entries go as well when anything is dropped.  NULL does nothing. */
void hist_clamp(histogram *h, double lower, double upper);
/* A new histogram (caller frees) with src's counts: buckets with exp below
 * mbe count as zero, those at mbe keep one significant digit, the others
 * stay.  src may be NULL (empty result); src is not changed. */
histogram *hist_compress_mbe(const histogram *src, int8_t mbe);
/* As hist_compress_mbe, the result taking its memory from allocator.  Both
 * return NULL when the allocator fails. */
histogram *hist_compress_mbe_with_allocator(const histogram *src, int8_t mbe, const hist_allocator *allocator);
/* Thins h as if each sample were kept with probability ratio (below 0 keeps
 * none, above 1 keeps all): each non-empty entry draws one drand48() number
 * and its count becomes a binomial draw.  Empty entries are dropped.  A NaN
 * ratio leaves h unchanged and draws nothing.  NULL does nothing. */
void hist_downsample(histogram *h, double ratio);

/* ---- Approximation from ad-hoc bins ------------------------------------- */

/* One bin of another system's histogram.  An edge of -1e128 or below (such as
 * -infinity) opens the first bin; 1e128 or above opens the last. */
typedef struct hist_adhoc_bin {
  uint64_t count;
  double lower;
  double upper;
} hist_adhoc_bin;

/* Where a bin's count is placed, between its inner edge (nearer zero) and its
 * outer edge.  Any other value places every closed bin at 0. */
typedef enum hist_adhoc_mode {
  HIST_ADHOC_ARITHMETIC_MID = 0,
  HIST_ADHOC_HARMONIC_MID = 1,
  HIST_ADHOC_OUTER_EDGE = 2,
  HIST_ADHOC_INNER_EDGE = 3
} hist_adhoc_mode;

/* A new histogram (caller frees) holding each bin's count at one value chosen
 * by mode (a hist_adhoc_mode); open end bins are placed one neighbouring
 * width beyond their finite edge.  NULL bins give an empty histogram. */
histogram *hist_create_approximation_from_adhoc(int mode, const hist_adhoc_bin *bins, uint64_t nbins);
/* As hist_create_approximation_from_adhoc, the result taking its memory from
 * allocator.  Both return NULL when the allocator fails. */
histogram *hist_create_approximation_from_adhoc_with_allocator(int mode, const hist_adhoc_bin *bins, uint64_t nbins,
                                                               const hist_allocator *allocator);

/* ---- Exponential and explicit-bound histograms -------------------------- */

/* The exponential histograms of OpenTelemetry: at scale s the base is
 * 2^(2^-s), and index i of a side holds the magnitudes in (base^i,
 * base^(i+1)].  Both directions share each bucket's count among the buckets
 * of the other scheme that it overlaps, in proportion to the overlap's width
 * on a log scale, by cumulative rounding: every count stays whole, the total
 * stays exact, and samples never leave their bucket's range (so counts below
 * the powers of two that are bucket edges, 0.25 .. 64, survive a round trip
 * exactly). */
#define HIST_EXPONENTIAL_MIN_SCALE (-10)
#define HIST_EXPONENTIAL_MAX_SCALE 20

/* One side (positive or negative magnitudes): counts[k] belongs to index
 * offset + k. */
typedef struct hist_exponential_side {
  int32_t offset;
  uint64_t length;
  uint64_t *counts;
} hist_exponential_side;

typedef struct hist_exponential {
  int scale;
  uint64_t zero_count;
  hist_exponential_side positive;
  hist_exponential_side negative;
} hist_exponential;

/* A new histogram (from allocator; NULL means default_allocator) holding the
 * exponential histogram e: zero_count in the zero bucket, magnitudes from
 * 1e128 up in the NaN bucket, below 1e-128 in the zero bucket.  NULL when e
 * is invalid (NULL, scale outside -10..20, counts NULL with a length, an
 * index past 2^31 - 1, counts whose total passes 2^64 - 1) or the allocator
 * fails.  The caller frees the result. */
histogram *hist_from_exponential(const hist_exponential *e, const hist_allocator *allocator);
/* The layout of h at scale: out's scale, zero_count and each side's offset
 * and length (0 when the side is empty; counts untouched).  The NaN bucket's
 * samples take the positive index just above 1e128.  0, or -1 when out is
 * NULL, the scale is out of range or an index would pass the 32-bit range.
 * h may be NULL (empty). */
int hist_exponential_layout(const histogram *h, int scale, hist_exponential *out);
/* Fills out's counts (buffers of the lengths that hist_exponential_layout
 * gave, at out->scale): 0, or -1 (nothing written) when the layout does not
 * match or a side's counts are NULL with a length.  Counts saturate. */
int hist_to_exponential(const histogram *h, hist_exponential *out);
/* The finest scale in -10..20 at which neither side of h needs more than
 * max_buckets indices (-10 when none does, 20 for an empty histogram). */
int hist_exponential_scale_for(const histogram *h, uint64_t max_buckets);

/* Explicit bounds, as Prometheus and OpenTelemetry write them: n ascending
 * finite bounds make n + 1 bins, (-inf, b0], (b0, b1], ..., (b(n-1), +inf).
 * A new histogram (allocator as above) with counts[i] samples of bin i placed
 * at one value inside the bin: the middle of a closed bin; for the first,
 * half of b0 when b0 is positive (as if the bin began at 0), b0 when it is 0,
 * one neighbouring width below it otherwise; for the last, above b(n-1) by
 * the previous bin's width, but by no more than |b(n-1)| (1 with no
 * neighbour and b(n-1) 0).  Every bound that is a bucket edge keeps the
 * exact count below it.  NULL when the bounds are not finite and strictly
 * ascending, ncounts is not n + 1, counts or bounds are NULL with a length,
 * the total passes 2^64 - 1, or the allocator fails. */
histogram *hist_from_explicit_bounds(const double *bounds, size_t nbounds, const uint64_t *counts, size_t ncounts,
                                     const hist_allocator *allocator);
/* The other way: counts[i] (nbounds + 1 of them) receives h's samples in bin
 * i, each bucket's samples taken as spread evenly over the bucket (a bound
 * on a bucket edge splits no bucket; the NaN bucket counts in the last bin).
 * 0, or -1 (nothing written) when the bounds are not finite and strictly
 * ascending or counts is NULL.  h may be NULL (all 0).  Counts saturate. */
int hist_to_explicit_bounds(const histogram *h, const double *bounds, size_t nbounds, uint64_t *counts);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* VARROW_H */
