// histconv: converts histograms between base64 lines and the formats of the
// observability world — Prometheus text, OTLP/JSON, HdrHistogram encodings
// and interval logs, ad-hoc bins — and shows a stream of them as a table or
// an SVG heatmap.  Every input is read whole before anything is written: an
// input with a fault is reported with its line or field and contributes
// nothing, the others are still converted.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "formats.hpp"
#include "program_options.hpp"

namespace {

using namespace varrow_formats;

constexpr int exit_success = 0;
constexpr int exit_input_rejected = 1;  // an input (or the conversion of all of them) was refused
constexpr int exit_failure = 2;         // bad usage, or the output could not be written

constexpr const char *standard_input_name = "(standard input)";

const char *usage_text =
    "usage: histconv [--from FORMAT] [--to FORMAT] [options] [file ...]\n"
    "Reads histograms from the files (standard input when none is named, or for \"-\")\n"
    "and writes them in another format.\n"
    "  --from b64|prometheus|otlp|hdr|bins   input format (default b64: one base64 histogram a line)\n"
    "  --to b64|prometheus|otlp|json|table|svg  output format (default b64)\n"
    "  --unit U        hdr: the value of one recorded integer (default 1)\n"
    "  --mode M        bins: arithmetic, harmonic, outer or inner (default arithmetic)\n"
    "  --name NAME     prometheus (required), otlp: the metric name\n"
    "  --le LIST       prometheus: ascending bucket bounds, comma-separated (default .005 ... 10)\n"
    "  --labels L      prometheus: labels for every series, as k=\"v\",...\n"
    "  --scale S       otlp: the exponential scale, -10..20 (default: the finest within 160 buckets)\n"
    "  -h, --help      print this text and exit\n"
    "  --version       print the version and exit\n";

struct Options {
  std::string from = "b64", to = "b64";
  std::optional<double> unit;
  std::optional<int> mode;
  std::optional<std::string> name, le, labels;
  std::optional<int> scale;
};

[[noreturn]] void usage_error(const std::string &what) {
  std::fprintf(stderr, "histconv: %s\n%s", what.c_str(), usage_text);
  std::exit(exit_failure);
}

const std::map<std::string, int> placement_modes = {{"arithmetic", HIST_ADHOC_ARITHMETIC_MID},
                                                    {"harmonic", HIST_ADHOC_HARMONIC_MID},
                                                    {"outer", HIST_ADHOC_OUTER_EDGE},
                                                    {"inner", HIST_ADHOC_INNER_EDGE}};

using Reader = std::function<Entries(std::string_view)>;

Reader reader_for(const Options &o) {
  if (o.from == "b64") return read_b64;
  if (o.from == "prometheus") return read_prometheus;
  if (o.from == "otlp") return read_otlp;
  if (o.from == "hdr") return [unit = o.unit.value_or(1.0)](std::string_view text) { return read_hdr(text, unit); };
  if (o.from == "bins")
    return [mode = o.mode.value_or(HIST_ADHOC_ARITHMETIC_MID)](std::string_view text) { return read_bins(text, mode); };
  usage_error("unknown input format '" + o.from + "'");
}

using Writer = std::function<void(const Entries &, std::string &)>;

Writer writer_for(const Options &o) {
  if (o.to == "b64") return write_b64;
  if (o.to == "json") return write_json;
  if (o.to == "table") return write_table;
  if (o.to == "svg") return write_svg;
  if (o.to == "prometheus") {
    if (!o.name) usage_error("--to prometheus needs --name");
    PrometheusOptions p{*o.name, {}, {}};
    try {
      if (!is_metric_name(*o.name)) throw FormatError("'" + *o.name + "' is not a metric name");
      if (o.le) p.bounds = parse_bound_list(*o.le);
      if (o.labels) p.labels = parse_label_list(*o.labels);
    } catch (const FormatError &e) {
      usage_error(std::string("bad --name, --le or --labels: ") + e.what());
    }
    return [p](const Entries &entries, std::string &out) { write_prometheus(entries, p, out); };
  }
  if (o.to == "otlp") {
    OtlpOptions p;
    p.scale = o.scale;
    if (o.name) p.name = *o.name;
    return [p](const Entries &entries, std::string &out) { write_otlp(entries, p, out); };
  }
  usage_error("unknown output format '" + o.to + "'");
}

// Options that only one format reads must not be given to another.
void check_combination(const Options &o) {
  const auto only = [](bool given, bool fits, const char *option, const char *format) {
    if (given && !fits) usage_error(std::string(option) + " applies to " + format + " only");
  };
  only(o.unit.has_value(), o.from == "hdr", "--unit", "--from hdr");
  only(o.mode.has_value(), o.from == "bins", "--mode", "--from bins");
  only(o.le.has_value(), o.to == "prometheus", "--le", "--to prometheus");
  only(o.labels.has_value(), o.to == "prometheus", "--labels", "--to prometheus");
  only(o.name.has_value(), o.to == "prometheus" || o.to == "otlp", "--name", "--to prometheus and --to otlp");
  only(o.scale.has_value(), o.to == "otlp", "--scale", "--to otlp");
}

Options parse_options(int argc, char **argv) {
  enum { from = program_options::version_code + 1, to, unit, mode, name, le, labels, scale };
  static const option long_options[] = {
      {"from", required_argument, nullptr, from},   {"to", required_argument, nullptr, to},
      {"unit", required_argument, nullptr, unit},   {"mode", required_argument, nullptr, mode},
      {"name", required_argument, nullptr, name},   {"le", required_argument, nullptr, le},
      {"labels", required_argument, nullptr, labels}, {"scale", required_argument, nullptr, scale},
      program_options::help_option, program_options::version_option, program_options::end_of_options};
  Options o;
  int c;
  // "+": options end at the first file, as in histstat and histmake.
  while ((c = getopt_long(argc, argv, "+h", long_options, nullptr)) != -1) {
    const std::string arg = optarg ? optarg : "";
    switch (c) {
      case 'h':
        std::fputs(usage_text, stdout);
        std::exit(exit_success);
      case program_options::version_code:
        program_options::print_version("histconv");
        std::exit(exit_success);
      case from: o.from = arg; break;
      case to: o.to = arg; break;
      case unit: {
        char *end = nullptr;
        const double u = std::strtod(arg.c_str(), &end);
        if (arg.empty() || *end != '\0' || !(u > 0) || !std::isfinite(u)) usage_error("--unit needs a positive number");
        o.unit = u;
        break;
      }
      case mode: {
        const auto m = placement_modes.find(arg);
        if (m == placement_modes.end()) usage_error("--mode is arithmetic, harmonic, outer or inner");
        o.mode = m->second;
        break;
      }
      case name: o.name = arg; break;
      case le: o.le = arg; break;
      case labels: o.labels = arg; break;
      case scale: {
        char *end = nullptr;
        const long s = std::strtol(arg.c_str(), &end, 10);
        if (arg.empty() || *end != '\0' || s < HIST_EXPONENTIAL_MIN_SCALE || s > HIST_EXPONENTIAL_MAX_SCALE)
          usage_error("--scale needs an integer from -10 to 20");
        o.scale = int(s);
        break;
      }
      default:  // getopt has named the option
        std::fputs(usage_text, stderr);
        std::exit(exit_failure);
    }
  }
  check_combination(o);
  return o;
}

bool read_whole(std::FILE *stream, std::string &text) {
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
  return !std::ferror(stream);
}

// One input, whole: its histograms, or nothing and a report.
bool convert_input(const char *path, const Reader &read, Entries &all) {
  const bool standard_input = std::strcmp(path, "-") == 0;
  const char *name = standard_input ? standard_input_name : path;
  std::FILE *stream = standard_input ? stdin : std::fopen(path, "rb");
  if (stream == nullptr) {
    std::fprintf(stderr, "histconv: %s: %s\n", name, std::strerror(errno));
    return false;
  }
  std::string text;
  const bool complete = read_whole(stream, text);
  const int error = errno;
  if (!standard_input) std::fclose(stream);
  if (!complete) {
    std::fprintf(stderr, "histconv: %s: %s\n", name, std::strerror(error));
    return false;
  }
  try {
    Entries entries = read(text);
    for (Entry &e : entries) all.push_back(std::move(e));
    return true;
  } catch (const FormatError &e) {
    std::fprintf(stderr, "histconv: %s: %s\n", name, e.what());
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "histconv: %s: out of memory\n", name);
  }
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  const Options options = parse_options(argc, argv);
  const Reader read = reader_for(options);
  const Writer write = writer_for(options);
  if (options.from == "hdr" && !hdr_compression_supported())
    std::fputs("histconv: note: built without zlib; compressed HdrHistogram encodings will be refused\n", stderr);

  std::vector<const char *> paths(argv + optind, argv + argc);
  if (paths.empty()) paths.push_back("-");
  Entries entries;
  bool all_read = true;
  for (const char *path : paths) all_read = convert_input(path, read, entries) && all_read;

  std::string out;
  try {
    write(entries, out);
  } catch (const FormatError &e) {
    std::fprintf(stderr, "histconv: %s\n", e.what());
    return exit_input_rejected;
  } catch (const std::bad_alloc &) {
    std::fputs("histconv: out of memory\n", stderr);
    return exit_failure;
  }
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "histconv: error writing output: %s\n", std::strerror(errno));
    return exit_failure;
  }
  return all_read ? exit_success : exit_input_rejected;
}
