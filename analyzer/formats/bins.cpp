// lower,upper,count lines: another system's bins, through the ad-hoc
// approximation (each bin's count at one value that the mode chooses).
#include "formats.hpp"
#include "text.hpp"

namespace varrow_formats {

Entries read_bins(std::string_view text, int mode) {
  if (mode < HIST_ADHOC_ARITHMETIC_MID || mode > HIST_ADHOC_INNER_EDGE) fail_at_field("--mode", "unknown placement mode");
  std::vector<hist_adhoc_bin> bins;
  bool first = true;
  for_each_line(text, [&](std::string_view raw, std::size_t number) {
    const std::string_view line = trim(raw);
    if (line.empty() || line.front() == '#') return true;
    const bool header = first && line == "lower,upper,count";
    first = false;
    if (header) return true;
    const std::size_t a = line.find(','), b = a == std::string_view::npos ? a : line.find(',', a + 1);
    if (b == std::string_view::npos || line.find(',', b + 1) != std::string_view::npos)
      fail_at_line(number, "expected lower,upper,count");
    const std::string_view fields[3] = {trim(line.substr(0, a)), trim(line.substr(a + 1, b - a - 1)), trim(line.substr(b + 1))};
    const std::optional<double> lower = parse_double(fields[0]), upper = parse_double(fields[1]);
    if (!lower || std::isnan(*lower)) fail_at_line(number, "bad lower edge '" + std::string(fields[0]) + "'");
    if (!upper || std::isnan(*upper)) fail_at_line(number, "bad upper edge '" + std::string(fields[1]) + "'");
    if (*upper < *lower) fail_at_line(number, "the upper edge lies below the lower one");
    const std::optional<uint64_t> count = parse_count(fields[2]);
    if (!count) fail_at_line(number, "count '" + std::string(fields[2]) + "' is not a whole number from 0 to 2^64 - 1");
    bins.push_back({*count, *lower, *upper});
    return true;
  });
  histogram *h = hist_create_approximation_from_adhoc(mode, bins.data(), bins.size());
  if (h == nullptr) throw std::bad_alloc();
  Entries out;
  out.push_back({"", "", {}, NAN, varrow::Histogram::adopt(h)});
  return out;
}

}  // namespace varrow_formats
