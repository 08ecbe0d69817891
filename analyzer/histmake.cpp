// histmake: turns raw measurements into base64 histograms.  Reads decimal
// numbers separated by white space from the named files (standard input when
// none is named, or for "-") and prints the histogram of all of them as one
// line of base64 text; with -l every input line becomes a histogram of its own.
// A token that is not a number is reported and skipped; everything valid is
// still counted and printed, and the exit status tells that input was skipped.
#include <varrow.h>

#include "program_options.hpp"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

constexpr int exit_success = 0;
constexpr int exit_input_skipped = 1;  // a token or a file could not be read
constexpr int exit_failure = 2;        // bad usage, or the output could not be written

constexpr const char *standard_input_name = "(standard input)";

void print_usage(std::FILE *stream, const char *name) {
  std::fprintf(stream,
               "usage: %s [-l] [file ...]\n"
               "Reads decimal numbers separated by white space from the files (standard input\n"
               "when none is named, or for \"-\") and prints their histogram as one line of base64.\n"
               "\t-l\tmake a histogram of every input line, one output line each\n"
               "\t-h, --help\thelp\n"
               "\t--version\tprint the version\n",
               name);
}

struct histogram_deleter {
  void operator()(histogram *h) const { hist_free(h); }
};
using histogram_ptr = std::unique_ptr<histogram, histogram_deleter>;

// The whole token as a number, as strtod reads it in the C locale (decimal
// and hexadecimal forms, inf, nan); false when any character is left over.
bool parse_number(const std::string &token, double &value) {
  char *end = nullptr;
  value = std::strtod(token.c_str(), &end);
  return !token.empty() && end == token.c_str() + token.size();
}

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void report_write_error(int error) {
  std::fprintf(stderr, "error writing output: %s\n", std::strerror(error));
}

class histogram_maker {
 public:
  explicit histogram_maker(bool per_line) : per_line_(per_line), histogram_(hist_fast_alloc()) {}

  bool ready() const { return histogram_ != nullptr; }

  // Reads one stream to its end; false when it could not be read completely.
  bool read_stream(std::FILE *stream, const char *name) {
    char *line = nullptr;
    std::size_t capacity = 0;
    std::size_t line_number = 0;
    ssize_t length;
    while (!output_failed_ && (length = getline(&line, &capacity, stream)) >= 0) {
      ++line_number;
      add_line(std::string_view(line, static_cast<std::size_t>(length)), name, line_number);
      if (per_line_) print_histogram();
    }
    std::free(line);
    return !std::ferror(stream);
  }

  // Without -l, prints the one histogram of everything read.
  void finish() {
    if (!per_line_) print_histogram();
  }

  bool output_failed() const { return output_failed_; }
  bool skipped_input() const { return skipped_input_; }
  void note_skipped_input() { skipped_input_ = true; }

 private:
  void add_line(std::string_view line, const char *name, std::size_t line_number) {
    std::size_t pos = 0;
    while (pos < line.size()) {
      while (pos < line.size() && is_space(line[pos])) ++pos;
      const std::size_t start = pos;
      while (pos < line.size() && !is_space(line[pos])) ++pos;
      if (pos > start) add_token(std::string(line.substr(start, pos - start)), name, line_number);
    }
  }

  void add_token(const std::string &token, const char *name, std::size_t line_number) {
    double value;
    if (parse_number(token, value)) {
      hist_insert(histogram_.get(), value, 1);
      return;
    }
    std::fprintf(stderr, "%s:%zu: not a number: %s\n", name, line_number, token.c_str());
    skipped_input_ = true;
  }

  // Prints the histogram as one line and empties it for what follows.
  void print_histogram() {
    const ssize_t estimate = hist_serialize_b64_estimate(histogram_.get());
    text_.resize(static_cast<std::size_t>(estimate) + 1);
    const ssize_t length = hist_serialize_b64(histogram_.get(), text_.data(), text_.size());
    hist_clear(histogram_.get());
    if (length <= 0) {
      std::fputs("out of memory\n", stderr);
      output_failed_ = true;
      return;
    }
    text_[static_cast<std::size_t>(length)] = '\n';
    const std::size_t size = static_cast<std::size_t>(length) + 1;
    if (std::fwrite(text_.data(), 1, size, stdout) != size) {
      report_write_error(errno);
      output_failed_ = true;
    }
  }

  bool per_line_;
  histogram_ptr histogram_;
  std::vector<char> text_;
  bool skipped_input_ = false;
  bool output_failed_ = false;
};

bool is_standard_input(const char *name) { return std::strcmp(name, "-") == 0; }

void report_unreadable(const char *name, int error) {
  std::fprintf(stderr, "%s: %s\n", name, std::strerror(error));
}

// Reads one named file, or standard input for "-"; a file that cannot be
// read is reported and marks the input as skipped.
void read_file(histogram_maker &maker, const char *name) {
  if (is_standard_input(name)) {
    if (!maker.read_stream(stdin, standard_input_name)) {
      report_unreadable(standard_input_name, errno);
      maker.note_skipped_input();
    }
    return;
  }
  std::FILE *stream = std::fopen(name, "r");
  if (stream == nullptr) {
    report_unreadable(name, errno);
    maker.note_skipped_input();
    return;
  }
  if (!maker.read_stream(stream, name)) {
    report_unreadable(name, errno);
    maker.note_skipped_input();
  }
  std::fclose(stream);
}

}  // namespace

int main(int argc, char **argv) {
  bool per_line = false;
  int c;
  const ::option long_options[] = {program_options::help_option, program_options::version_option,
                                   program_options::end_of_options};
  while ((c = getopt_long(argc, argv, "+lh", long_options, nullptr)) != -1) {
    switch (c) {
      case 'l':
        per_line = true;
        break;
      case 'h':
        print_usage(stdout, argv[0]);
        return exit_success;
      case program_options::version_code:
        program_options::print_version("histmake");
        return exit_success;
      default:
        print_usage(stderr, argv[0]);
        return exit_failure;
    }
  }

  histogram_maker maker(per_line);
  if (!maker.ready()) {
    std::fputs("out of memory\n", stderr);
    return exit_failure;
  }
  if (optind == argc) {
    read_file(maker, "-");
  } else {
    for (int i = optind; i < argc && !maker.output_failed(); ++i) read_file(maker, argv[i]);
  }
  maker.finish();
  if (maker.output_failed()) return exit_failure;
  if (std::fflush(stdout) != 0) {
    report_write_error(errno);
    return exit_failure;
  }
  return maker.skipped_input() ? exit_input_skipped : exit_success;
}
