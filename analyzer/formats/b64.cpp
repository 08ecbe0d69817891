// Base64 histograms, one per line, as histstat reads and histmake writes
// them; and the JSON lines that carry each histogram with its source key.
#include "formats.hpp"
#include "text.hpp"

namespace varrow_formats {

Entries read_b64(std::string_view text) {
  Entries out;
  for_each_line(text, [&](std::string_view raw, std::size_t number) {
    const std::string_view line = trim(raw);
    if (line.empty()) return true;
    try {
      out.push_back({"", "", {}, NAN, varrow::Histogram::from_base64(line)});
    } catch (const varrow::Error &) {
      fail_at_line(number, "not a base64 histogram");
    }
    return true;
  });
  return out;
}

void write_b64(const Entries &entries, std::string &out) {
  for (const Entry &e : entries) out += e.histogram.to_base64() + '\n';
}

void write_json(const Entries &entries, std::string &out) {
  for (const Entry &e : entries) {
    out += "{\"key\":" + json_string(e.key);
    if (!e.labels.empty()) {
      out += ",\"labels\":{";
      for (std::size_t i = 0; i < e.labels.size(); ++i) {
        out += i > 0 ? "," : "";
        out += json_string(e.labels[i].name) + ":" + json_string(e.labels[i].value);
      }
      out += "}";
    }
    if (std::isfinite(e.time)) out += ",\"time\":" + format_double(e.time);
    out += ",\"count\":" + std::to_string(e.histogram.sample_count()) + ",\"b64\":" + json_string(e.histogram.to_base64()) + "}\n";
  }
}

}  // namespace varrow_formats
