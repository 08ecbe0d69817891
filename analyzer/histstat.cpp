// histstat: reports on base64 histograms given as arguments or, without
// arguments, one per line of standard input.  Each reported input becomes one
// line holding a JSON object: the bucket map, or the counts, percentiles and
// inverse quantiles asked for on the command line.  With -C the inputs are
// successive snapshots of one cumulative histogram and each line describes
// the samples added since the snapshot before.  A statistic that has no
// finite value (the percentile of an empty histogram) prints as null, so that
// every line is valid JSON.
#include <varrow.h>

#include "program_options.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

// One read of standard input fills at most this buffer; a line may hold
// input_buffer_size - 1 characters besides its newline, the same limit as an
// argument.
constexpr std::size_t input_buffer_size = 262144;
constexpr std::size_t max_input_length = input_buffer_size - 1;

constexpr int exit_success = 0;
constexpr int exit_failure = 255;

// Output buffer of standard output when it is not a terminal: fewer, larger
// writes than the C library's default.
constexpr std::size_t stdout_buffer_size = 1 << 16;

// ---- Option state -----------------------------------------------------------

using value_list = std::vector<double>;

void value_list_append(value_list &list, double value) { list.push_back(value); }

struct options {
  value_list above_list;       // -a thresholds, command-line order
  value_list below_list;       // -b thresholds, command-line order
  value_list percentile_list;  // -p fractions 0..1, ascending
  value_list inverse_list;     // -i values, ascending
  bool cumulative = false;     // -C
  bool null_for_skipped = false;  // -n: a null line for each input reported by no figures

  bool wants_statistics() const {
    return !above_list.empty() || !below_list.empty() || !percentile_list.empty() ||
           !inverse_list.empty();
  }
};

// Three-way comparison that places NaN after every number.  The batch quantile
// functions walk the histogram once, forward, so their lists must be truly
// ascending; a comparison that calls NaN equal to everything would let qsort
// leave numbers out of order around it.
int compare_doubles(double a, double b) {
  const bool a_nan = std::isnan(a);
  const bool b_nan = std::isnan(b);
  if (a_nan || b_nan) return static_cast<int>(a_nan) - static_cast<int>(b_nan);
  if (a < b) return -1;
  if (a > b) return 1;
  return 0;
}

void sort_ascending(value_list &list) {
  std::stable_sort(list.begin(), list.end(),
                   [](double a, double b) { return compare_doubles(a, b) < 0; });
}

void print_usage(const char *name) {
  std::printf("%s:\n", name);
  std::puts("\t-h, --help\thelp");
  std::puts("\t--version\tprint the version");
  std::puts("\t-a <val>\tcompute number of samples above <val>");
  std::puts("\t-b <val>\tcompute number of samples below <val>");
  std::puts("\t-p <0-100>\tcompute approximate percentile");
  std::puts("\t-i <val>\tcompute approximate inverse quantile at <val>");
  std::puts("\t-C\t\tcalculate difference between cumulative histograms");
  std::puts("\t-n, --null-invalid\tprint null for each input that gives no figures");
  std::puts("\t[hist1 [hist2 [...]]]\n");
  std::puts("If no hists are specified, stdin is read");
  std::puts("\n\nExample:\n");
  std::printf("\tcurl url |\n\t  jq -r .stat._value |\n\t  %s -i 0.2 -p 0 -p 100 -p 99 -p 99.999 -p 50\n\n",
              name);
  std::puts("\tThis will fetch the document at URL, extract the b64 encoded histogram");
  std::puts("\tprinting the inverse quantile at 0.2 (seconds)");
  std::puts("\tand the p0, p50, p99, p99.999, and p100");
}

enum class parse_outcome { run, help, version, fail };

// Parses the options in command-line order; on return optind is the index of
// the first histogram argument.
parse_outcome parse_command_line(int argc, char **argv, options &opts) {
  // The leading '+' keeps glibc's getopt from permuting: parsing stops at the
  // first argument that is not an option, as POSIX requires.
  const char *const option_string = "+ha:b:p:i:Cn";
  const ::option long_options[] = {program_options::help_option, program_options::version_option,
                                   {"null-invalid", no_argument, nullptr, 'n'},
                                   program_options::end_of_options};
  int c;
  while ((c = getopt_long(argc, argv, option_string, long_options, nullptr)) != -1) {
    switch (c) {
      case 'h':
        return parse_outcome::help;
      case program_options::version_code:
        return parse_outcome::version;
      case 'a':
        value_list_append(opts.above_list, std::atof(optarg));
        break;
      case 'b':
        value_list_append(opts.below_list, std::atof(optarg));
        break;
      case 'p': {
        const double percent = std::atof(optarg);
        if (percent < 0 || percent > 100) {
          std::fprintf(stderr, "Invalid percentile %f\n", percent);
          return parse_outcome::fail;
        }
        value_list_append(opts.percentile_list, percent / 100);
        break;
      }
      case 'i':
        value_list_append(opts.inverse_list, std::atof(optarg));
        break;
      case 'C':
        opts.cumulative = true;
        break;
      case 'n':
        opts.null_for_skipped = true;
        break;
      default:
        std::fprintf(stderr, "unrecognized option: -%c\n", c);
        return parse_outcome::fail;
    }
  }
  sort_ascending(opts.percentile_list);
  sort_ascending(opts.inverse_list);
  return parse_outcome::run;
}

// ---- Output -------------------------------------------------------------------

// Builds one report line and hands it to stdio whole, so that stdio's own
// buffering mode (line-buffered on a terminal, fully buffered otherwise)
// decides when it is written.  Numbers are formatted with std::to_chars, whose
// precision forms are defined to match printf's "%g" and "%f" exactly.
class line_writer {
 public:
  void text(std::string_view s) { line_.append(s); }
  void null() { line_.append("null"); }
  void character(char c) { line_.push_back(c); }

  void unsigned_integer(std::uint64_t value) {
    char digits[24];
    line_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  }

  // printf's "%g", or null for not-a-number and infinities: JSON has no
  // literal for them, and a consumer must be able to parse every line.
  void general(double value) {
    if (!std::isfinite(value)) {
      null();
      return;
    }
    char digits[48];
    line_.append(digits,
                 std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6).ptr);
  }

  // Writes the line to standard output; false once writing has failed.
  bool finish_line() {
    line_.push_back('\n');
    const bool written = std::fwrite(line_.data(), 1, line_.size(), stdout) == line_.size();
    if (!written && write_errno_ == 0) write_errno_ = errno;
    line_.clear();
    return written;
  }

  int write_errno() const { return write_errno_; }

 private:
  std::string line_;
  int write_errno_ = 0;
};

// The "%g" text of each bucket's value, formatted by printf on first use.  A
// bucket map prints the same few hundred keys over and over, and a key
// depends on nothing but the bucket.
class bucket_key_cache {
 public:
  std::string_view key(hist_bucket bucket) {
    entry &e = entries_[slot(bucket)];
    if (e.length == 0) {
      e.length = static_cast<std::uint8_t>(
          std::snprintf(e.text.data(), e.text.size(), "%g", hist_bucket_to_double(bucket)));
    }
    return {e.text.data(), e.length};
  }

 private:
  // Longest key: "-9.9e-128" (or "-nan").
  struct entry {
    std::array<char, 15> text;
    std::uint8_t length;
  };
  static constexpr std::size_t bucket_space = 1 << 16;

  static std::size_t slot(hist_bucket bucket) {
    return static_cast<std::size_t>(static_cast<std::uint8_t>(bucket.val)) << 8 |
           static_cast<std::uint8_t>(bucket.exp);
  }

  std::vector<entry> entries_ = std::vector<entry>(bucket_space);
};

void print_bucket_map(const histogram *h, line_writer &out, bucket_key_cache &keys) {
  out.character('{');
  const int buckets = hist_bucket_count(h);
  for (int idx = 0; idx < buckets; ++idx) {
    hist_bucket bucket;
    std::uint64_t count;
    hist_bucket_idx_bucket(h, idx, &bucket, &count);
    if (idx > 0) out.character(',');
    out.character('"');
    out.text(keys.key(bucket));
    out.text("\":");
    out.unsigned_integer(count);
  }
  out.character('}');
}

// The statistics line: its keys depend only on the options, so they are
// formatted once; the scratch arrays hold the batch results of one line.
class statistics_printer {
 public:
  explicit statistics_printer(const options &opts)
      : opts_(opts),
        quantiles_(opts.percentile_list.size()),
        inverse_quantiles_(opts.inverse_list.size()) {
    for (double v : opts.above_list) above_keys_.push_back(format_key("\"above(%g)\":", v));
    for (double v : opts.below_list) below_keys_.push_back(format_key("\"below(%g)\":", v));
    for (double p : opts.percentile_list) percentile_keys_.push_back(format_key("\"p(%f%%)\":", 100 * p));
    for (double v : opts.inverse_list) inverse_keys_.push_back(format_key("\"invq(%f)\":", v));
  }

  // The lists are ascending and every fraction lies in 0..1 or is NaN, so the
  // batch functions never reject them and their status is not needed.
  void print_statistics(const histogram *h, line_writer &out) {
    out.character('{');
    for (std::size_t i = 0; i < above_keys_.size(); ++i) {
      out.text(above_keys_[i]);
      out.unsigned_integer(hist_approx_count_above(h, opts_.above_list[i]));
      out.character(',');
    }
    for (std::size_t i = 0; i < below_keys_.size(); ++i) {
      out.text(below_keys_[i]);
      out.unsigned_integer(hist_approx_count_below(h, opts_.below_list[i]));
      out.character(',');
    }
    if (!quantiles_.empty()) {
      hist_approx_quantile(h, opts_.percentile_list.data(), static_cast<int>(quantiles_.size()),
                           quantiles_.data());
    }
    for (std::size_t i = 0; i < quantiles_.size(); ++i) {
      out.text(percentile_keys_[i]);
      out.general(quantiles_[i]);
      out.character(',');
    }
    if (!inverse_quantiles_.empty()) {
      hist_approx_inverse_quantile(h, opts_.inverse_list.data(),
                                   static_cast<int>(inverse_quantiles_.size()),
                                   inverse_quantiles_.data());
    }
    for (std::size_t i = 0; i < inverse_quantiles_.size(); ++i) {
      out.text(inverse_keys_[i]);
      out.general(inverse_quantiles_[i]);
      out.character(',');
    }
    out.text("\"count\":");
    out.unsigned_integer(hist_sample_count(h));
    out.character('}');
  }

 private:
  static std::string format_key(const char *format, double value) {
    // "%f" of a double can take over 300 digits.
    std::array<char, 512> text;
    const int length = std::snprintf(text.data(), text.size(), format, value);
    return std::string(text.data(), static_cast<std::size_t>(length));
  }

  const options &opts_;
  std::vector<std::string> above_keys_, below_keys_, percentile_keys_, inverse_keys_;
  std::vector<double> quantiles_, inverse_quantiles_;
};

// ---- Input loop ---------------------------------------------------------------

struct histogram_deleter {
  void operator()(histogram *h) const { hist_free(h); }
};
using histogram_ptr = std::unique_ptr<histogram, histogram_deleter>;

void report_out_of_memory() { std::fputs("out of memory\n", stderr); }

enum class input_outcome { next, stop };

// Decodes each input, derives the histogram to report and prints its line.
// Holds the previous accepted input P and the histogram H being decoded; the
// two swap roles when H is accepted, so only a -C difference is allocated per
// input.
class input_loop {
 public:
  explicit input_loop(const options &opts)
      : opts_(opts), statistics_(opts), previous_(hist_alloc()), current_(hist_alloc()) {}

  bool ready() const { return previous_ && current_; }

  input_outcome handle(std::string_view input) {
    if (!decode_histogram(input)) {
      std::fputs("histogram invalid\n", stderr);
      return skip();
    }
    histogram_ptr difference;
    const histogram *report = nullptr;
    if (!derive_report_histogram(difference, report)) return input_outcome::stop;
    const bool printed = report != nullptr ? print_report(report) : skip() == input_outcome::next;
    if (!printed) return input_outcome::stop;
    std::swap(previous_, current_);
    has_previous_ = true;
    return input_outcome::next;
  }

  // An input that no figures report: an invalid one, and with -C the first
  // snapshot and a reset.  With -n its line is null, so that output line n
  // still answers input line n.
  input_outcome skip() {
    if (!opts_.null_for_skipped) return input_outcome::next;
    out_.null();
    return out_.finish_line() ? input_outcome::next : input_outcome::stop;
  }

  int write_errno() const { return out_.write_errno(); }

 private:
  bool decode_histogram(std::string_view input) {
    return hist_deserialize_b64(current_.get(), input.data(), input.size()) >= 0;
  }

  // Sets report to the histogram to report for the current input, or to null
  // when there is nothing to report.  Without -C that is the input itself:
  // reporting never changes it.  With -C it is the current snapshot minus the
  // previous one, kept in difference.  False only when memory ran out.
  bool derive_report_histogram(histogram_ptr &difference, const histogram *&report) {
    if (!opts_.cumulative) {
      report = current_.get();
      return true;
    }
    if (!has_previous_) return true;
    difference.reset(hist_clone(current_.get()));
    if (!difference) {
      report_out_of_memory();
      return false;
    }
    const histogram *subtracted[] = {previous_.get()};
    if (hist_subtract(difference.get(), subtracted, 1) != 0) {
      std::fputs("histogram cumulative calculation reset\n", stderr);
      return true;
    }
    report = difference.get();
    return true;
  }

  bool print_report(const histogram *h) {
    if (opts_.wants_statistics()) {
      statistics_.print_statistics(h, out_);
    } else {
      print_bucket_map(h, out_, keys_);
    }
    return out_.finish_line();
  }

  const options &opts_;
  statistics_printer statistics_;
  line_writer out_;
  bucket_key_cache keys_;
  histogram_ptr previous_;
  histogram_ptr current_;
  bool has_previous_ = false;
};

// Splits standard input into lines through one fixed buffer.  A line longer
// than max_input_length is skipped whole and reported once, rather than cut
// into pieces that would each be decoded as an input of its own (a piece that
// ended on a record boundary would pass for a smaller histogram).
class line_reader {
 public:
  enum class status { line, too_long, end, read_error };

  status next(std::string_view &line) {
    for (;;) {
      if (const char *newline = find_newline()) {
        const std::size_t length = static_cast<std::size_t>(newline - (buffer_.data() + start_)) + 1;
        line = std::string_view(buffer_.data() + start_, length);
        start_ += length;
        return status::line;
      }
      if (at_end_) {
        if (start_ == end_) return status::end;
        line = std::string_view(buffer_.data() + start_, end_ - start_);
        start_ = end_;
        return status::line;
      }
      if (end_ - start_ == buffer_.size()) return skip_long_line();
      if (!fill()) return status::read_error;
    }
  }

  int read_errno() const { return read_errno_; }

 private:
  const char *find_newline() const {
    return static_cast<const char *>(std::memchr(buffer_.data() + start_, '\n', end_ - start_));
  }

  // Moves the unread bytes to the front and appends what one read returns.
  bool fill() {
    if (start_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    }
    for (;;) {
      const ssize_t n = read(STDIN_FILENO, buffer_.data() + end_, buffer_.size() - end_);
      if (n > 0) {
        end_ += static_cast<std::size_t>(n);
        return true;
      }
      if (n == 0) {
        at_end_ = true;
        return true;
      }
      if (errno != EINTR) {
        read_errno_ = errno;
        return false;
      }
    }
  }

  // Discards the rest of an overlong line, through its newline.
  status skip_long_line() {
    for (;;) {
      start_ = end_ = 0;
      if (!fill()) return status::read_error;
      if (const char *newline = find_newline()) {
        start_ = static_cast<std::size_t>(newline - buffer_.data()) + 1;
        return status::too_long;
      }
      if (at_end_) return status::too_long;
    }
  }

  std::array<char, input_buffer_size> buffer_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
  int read_errno_ = 0;
};

int report_write_error(int error) {
  std::fprintf(stderr, "error writing output: %s\n", std::strerror(error));
  return exit_failure;
}

int process_arguments(input_loop &loop, char **first, char **last) {
  for (char **arg = first; arg != last; ++arg) {
    const std::string_view input(*arg);
    if (input.size() > max_input_length) {
      std::fputs("histogram too large\n", stderr);
      return exit_failure;
    }
    if (loop.handle(input) == input_outcome::stop) return exit_failure;
  }
  return exit_success;
}

int process_standard_input(input_loop &loop) {
  line_reader reader;
  std::string_view line;
  for (;;) {
    switch (reader.next(line)) {
      case line_reader::status::line:
        if (loop.handle(line) == input_outcome::stop) return exit_failure;
        break;
      case line_reader::status::too_long:
        std::fputs("histogram too large\n", stderr);
        if (loop.skip() == input_outcome::stop) return exit_failure;
        break;
      case line_reader::status::end:
        return exit_success;
      case line_reader::status::read_error:
        std::fprintf(stderr, "error reading input: %s\n", std::strerror(reader.read_errno()));
        return exit_failure;
    }
  }
}

int run(const options &opts, char **first, char **last) {
  input_loop loop(opts);
  if (!loop.ready()) {
    report_out_of_memory();
    return exit_failure;
  }
  const int status = first != last ? process_arguments(loop, first, last) : process_standard_input(loop);
  if (loop.write_errno() != 0) return report_write_error(loop.write_errno());
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  if (!isatty(STDOUT_FILENO)) std::setvbuf(stdout, nullptr, _IOFBF, stdout_buffer_size);

  options opts;
  switch (parse_command_line(argc, argv, opts)) {
    case parse_outcome::help:
      print_usage(argv[0]);
      return exit_success;
    case parse_outcome::version:
      program_options::print_version("histstat");
      return exit_success;
    case parse_outcome::fail:
      return exit_failure;
    case parse_outcome::run:
      break;
  }
  const int status = run(opts, argv + optind, argv + argc);
  if (std::fflush(stdout) != 0) return report_write_error(errno);
  return status;
}
