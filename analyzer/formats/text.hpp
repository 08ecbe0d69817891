// Text handling shared by the readers and writers: lines, numbers in the C
// locale's notation whatever the process locale, and escaping.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varrow_formats {

// Calls visit(line, number) for every line of text (number from 1), without
// its line end ("\n" or "\r\n"); stops early when visit returns false.
template <class Visit>
void for_each_line(std::string_view text, Visit visit) {
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!visit(line, ++number)) return;
  }
}

std::string_view trim(std::string_view text);
bool is_blank(char c);

// The whole text as a double: decimal or exponent notation with an optional
// sign, inf, infinity or nan in any case; nothing else.
std::optional<double> parse_double(std::string_view text);
// The whole text as a sample count: digits up to 2^64 - 1, or a number in
// any notation of parse_double whose value is a whole number in 0 .. 2^64.
std::optional<uint64_t> parse_count(std::string_view text);
// An integer in the given range, digits with an optional sign.
std::optional<int64_t> parse_integer(std::string_view text, int64_t lowest, int64_t highest);

// The shortest text that reads back as the same double ("+Inf", "-Inf",
// "NaN" for the others).
std::string format_double(double value);

struct Label;
// name{a="x",b="y"}: a series as the exposition format names it.
std::string series_key(const std::string &name, const std::vector<Label> &labels);

// text as a JSON string literal, quotes included.
std::string json_string(std::string_view text);
// A label value as the exposition format writes it: \\, \" and \n escaped.
std::string escape_label_value(std::string_view text);

}  // namespace varrow_formats
