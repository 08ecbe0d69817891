// A heatmap of a stream of histograms as a standalone SVG: one column per
// histogram, value on a log axis, colour by samples per decade of value, with
// the p50, p99 and p99.9 lines.
#include <algorithm>
#include <array>
#include <cstdio>

#include "formats.hpp"
#include "text.hpp"

namespace varrow_formats {

namespace {

constexpr double width = 960, height = 520;
constexpr double left_margin = 90, right_margin = 170, top_margin = 50, bottom_margin = 60;
constexpr double plot_width = width - left_margin - right_margin;
constexpr double plot_height = height - top_margin - bottom_margin;
constexpr int max_time_ticks = 10;

struct Rgb {
  double r, g, b;
};
// A perceptually even dark-to-light scale (viridis at five stops).
constexpr std::array<Rgb, 5> palette = {{{68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}}};

std::string colour(double t) {
  t = std::clamp(t, 0.0, 1.0) * double(palette.size() - 1);
  const std::size_t i = std::min(std::size_t(t), palette.size() - 2);
  const double f = t - double(i);
  const auto mix = [&](double a, double b) { return int(std::lround(a + (b - a) * f)); };
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", mix(palette[i].r, palette[i + 1].r), mix(palette[i].g, palette[i + 1].g),
                mix(palette[i].b, palette[i + 1].b));
  return text;
}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

std::string xml_escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') out += ' ';
    else out += c;
  }
  return out;
}

// One positive bucket: its log10 edges and samples per decade.
struct Cell {
  std::size_t column;
  double low, high, density;
};

struct Marks {
  const char *name;
  double q;
  const char *stroke;
  const char *dash;
};
constexpr std::array<Marks, 3> quantile_lines = {
    {{"p50", 0.5, "#ffffff", ""}, {"p99", 0.99, "#ff7f0e", "6,3"}, {"p99.9", 0.999, "#e41a1c", "2,2"}}};

class Heatmap {
 public:
  explicit Heatmap(const Entries &entries) : entries_(entries) {
    for (std::size_t i = 0; i < entries.size(); ++i)
      for (const varrow::BucketCount &bc : entries[i].histogram) {
        const double value = bc.bucket.value();
        if (!(value > 0) || bc.count == 0) {
          left_out_ += bc.count;
          continue;
        }
        const double low = std::log10(value), high = std::log10(value + bc.bucket.width());
        cells_.push_back({i, low, high, double(bc.count) / (high - low)});
      }
    for (const Cell &c : cells_) {
      low_ = std::min(low_, c.low), high_ = std::max(high_, c.high);
      densest_ = std::max(densest_, c.density), sparsest_ = std::min(sparsest_, c.density);
    }
    low_ = std::floor(low_), high_ = std::ceil(high_);
    if (high_ <= low_) high_ = low_ + 1;
  }

  std::string render() const {
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      number(width) + "\" height=\"" + number(height) + "\" viewBox=\"0 0 " + number(width) + " " +
                      number(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += text(width / 2, 22, "middle", title(), "font-size=\"15\"");
    svg += "<rect x=\"" + number(left_margin) + "\" y=\"" + number(top_margin) + "\" width=\"" + number(plot_width) +
           "\" height=\"" + number(plot_height) + "\" fill=\"#20202a\"/>\n";
    if (cells_.empty()) {
      svg += text(left_margin + plot_width / 2, top_margin + plot_height / 2, "middle", "no positive samples to show",
                  "fill=\"#ffffff\"");
    } else {
      svg += cells();
      svg += lines();
      svg += value_axis();
      svg += colour_bar();
    }
    svg += time_axis();
    return svg + "</svg>\n";
  }

 private:
  double column_width() const { return plot_width / double(std::max<std::size_t>(entries_.size(), 1)); }
  double x_of(std::size_t column) const { return left_margin + double(column) * column_width(); }
  double y_of(double log_value) const { return top_margin + (high_ - log_value) / (high_ - low_) * plot_height; }
  double shade(double density) const {
    if (densest_ <= sparsest_) return 1.0;
    return (std::log(density) - std::log(sparsest_)) / (std::log(densest_) - std::log(sparsest_));
  }

  static std::string text(double x, double y, const char *anchor, const std::string &content, const std::string &extra = "") {
    return "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\" text-anchor=\"" + anchor + "\" " + extra + ">" +
           xml_escape(content) + "</text>\n";
  }

  std::string title() const {
    uint64_t samples = 0;
    for (const Entry &e : entries_) samples += e.histogram.sample_count();
    std::string t = std::to_string(entries_.size()) + (entries_.size() == 1 ? " histogram, " : " histograms, ") +
                    std::to_string(samples) + " samples";
    if (left_out_ > 0) t += " (" + std::to_string(left_out_) + " zero, negative or NaN not shown)";
    return t;
  }

  std::string cells() const {
    std::string out = "<g shape-rendering=\"crispEdges\">\n";
    for (const Cell &c : cells_) {
      const double top = y_of(c.high), bottom = y_of(c.low);
      out += "<rect x=\"" + number(x_of(c.column)) + "\" y=\"" + number(top) + "\" width=\"" + number(column_width()) +
             "\" height=\"" + number(std::max(bottom - top, 0.5)) + "\" fill=\"" + colour(shade(c.density)) + "\"/>\n";
    }
    return out + "</g>\n";
  }

  std::string lines() const {
    std::string out;
    for (std::size_t m = 0; m < quantile_lines.size(); ++m) {
      const Marks &mark = quantile_lines[m];
      std::string points;
      for (std::size_t i = 0; i < entries_.size(); ++i) {
        const double q = entries_[i].histogram.sample_count() > 0 ? entries_[i].histogram.quantile(mark.q) : NAN;
        if (!(q > 0)) continue;
        points += number(x_of(i) + column_width() / 2) + "," + number(y_of(std::clamp(std::log10(q), low_, high_))) + " ";
      }
      out += "<polyline fill=\"none\" stroke=\"" + std::string(mark.stroke) + "\" stroke-width=\"2\"" +
             (*mark.dash ? " stroke-dasharray=\"" + std::string(mark.dash) + "\"" : "") + " points=\"" + points + "\"/>\n";
      const double y = top_margin + 10 + 18 * double(m);
      const double x = left_margin + plot_width + 20;
      // The swatch on the plot's own background, where a white line shows.
      out += "<rect x=\"" + number(x - 2) + "\" y=\"" + number(y - 5) + "\" width=\"28\" height=\"10\" fill=\"#20202a\"/>\n";
      out += "<line x1=\"" + number(x) + "\" y1=\"" + number(y) + "\" x2=\"" + number(x + 24) + "\" y2=\"" + number(y) +
             "\" stroke=\"" + mark.stroke + "\" stroke-width=\"2\"" +
             (*mark.dash ? " stroke-dasharray=\"" + std::string(mark.dash) + "\"" : "") + "/>\n";
      out += text(x + 30, y + 4, "start", mark.name);
    }
    return out;
  }

  std::string value_axis() const {
    std::string out = "<g stroke=\"#000000\">\n";
    std::string labels;
    for (double d = low_; d <= high_ + 0.5; d += 1) {
      const double y = y_of(d);
      out += "<line x1=\"" + number(left_margin - 6) + "\" y1=\"" + number(y) + "\" x2=\"" + number(left_margin) +
             "\" y2=\"" + number(y) + "\"/>\n";
      labels += text(left_margin - 9, y + 4, "end", format_double(std::pow(10.0, d)));
    }
    out += "</g>\n" + labels;
    const double middle = top_margin + plot_height / 2;
    out += "<text x=\"22\" y=\"" + number(middle) + "\" text-anchor=\"middle\" transform=\"rotate(-90 22 " +
           number(middle) + ")\">value (log scale)</text>\n";
    return out;
  }

  std::string time_axis() const {
    const bool timed = !entries_.empty() && std::all_of(entries_.begin(), entries_.end(), [](const Entry &e) {
      return std::isfinite(e.time);
    });
    std::string out;
    const std::size_t n = entries_.size();
    const std::size_t step = std::max<std::size_t>(1, (n + max_time_ticks - 1) / max_time_ticks);
    for (std::size_t i = 0; i < n; i += step) {
      const double x = x_of(i) + column_width() / 2, y = top_margin + plot_height;
      out += "<line x1=\"" + number(x) + "\" y1=\"" + number(y) + "\" x2=\"" + number(x) + "\" y2=\"" + number(y + 6) +
             "\" stroke=\"#000000\"/>\n";
      const std::string label = timed ? "+" + format_double(std::round((entries_[i].time - entries_[0].time) * 1000) / 1000) + "s"
                                      : std::to_string(i + 1);
      out += text(x, y + 20, "middle", label);
    }
    out += text(left_margin + plot_width / 2, height - 16, "middle",
                timed ? "time since the first histogram's" + std::string(" start") : "histogram (one column each)");
    return out;
  }

  std::string colour_bar() const {
    constexpr int steps = 32;
    constexpr double bar_top = top_margin + 90, bar_height = 200, bar_width = 18;
    const double x = left_margin + plot_width + 20;
    std::string out = "<g shape-rendering=\"crispEdges\">\n";
    for (int s = 0; s < steps; ++s) {
      const double t = 1 - (s + 0.5) / steps;
      out += "<rect x=\"" + number(x) + "\" y=\"" + number(bar_top + bar_height * s / steps) + "\" width=\"" +
             number(bar_width) + "\" height=\"" + number(bar_height / steps + 0.5) + "\" fill=\"" + colour(t) + "\"/>\n";
    }
    out += "</g>\n";
    char top_label[32], bottom_label[32];
    std::snprintf(top_label, sizeof top_label, "%.3g", densest_);
    std::snprintf(bottom_label, sizeof bottom_label, "%.3g", sparsest_);
    out += text(x + bar_width + 6, bar_top + 10, "start", top_label);
    out += text(x + bar_width + 6, bar_top + bar_height, "start", bottom_label);
    out += text(x, bar_top - 10, "start", "samples per decade");
    return out;
  }

  const Entries &entries_;
  std::vector<Cell> cells_;
  uint64_t left_out_ = 0;
  double low_ = INFINITY, high_ = -INFINITY, densest_ = 0, sparsest_ = INFINITY;
};

}  // namespace

void write_svg(const Entries &entries, std::string &out) { out += Heatmap(entries).render(); }

}  // namespace varrow_formats
