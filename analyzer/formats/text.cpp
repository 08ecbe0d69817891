#include "text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "formats.hpp"

namespace varrow_formats {

void fail_at_line(std::size_t line, const std::string &what) {
  throw FormatError("line " + std::to_string(line) + ": " + what);
}

void fail_at_field(const std::string &field, const std::string &what) { throw FormatError(field + ": " + what); }

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<double> parse_double(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // from_chars takes no sign of its own here, and neither a second one.
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  // Out-of-range magnitudes are infinities and zeros, as strtod gives them.
  if (error == std::errc::result_out_of_range) {
    const bool exponent_negative = text.find("e-") != std::string_view::npos || text.find("E-") != std::string_view::npos;
    value = exponent_negative ? 0.0 : HUGE_VAL;
  } else if (error != std::errc{}) {
    return std::nullopt;
  }
  if (end != text.data() + text.size()) return std::nullopt;
  return negative ? -value : value;
}

std::optional<uint64_t> parse_count(std::string_view text) {
  uint64_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error == std::errc{} && end == text.data() + text.size()) return count;
  const std::optional<double> value = parse_double(text);
  constexpr double two_to_64 = 18446744073709551616.0;
  if (!value || !(*value >= 0) || *value >= two_to_64 || std::floor(*value) != *value) return std::nullopt;
  return static_cast<uint64_t>(*value);
}

std::optional<int64_t> parse_integer(std::string_view text, int64_t lowest, int64_t highest) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value < lowest || value > highest)
    return std::nullopt;
  return value;
}

std::string format_double(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string series_key(const std::string &name, const std::vector<Label> &labels) {
  std::string key = name;
  if (labels.empty()) return key;
  key += '{';
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (i > 0) key += ',';
    key += labels[i].name + "=\"" + escape_label_value(labels[i].value) + '"';
  }
  return key + '}';
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string escape_label_value(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

}  // namespace varrow_formats
