// The observability formats for Python: Prometheus text, OTLP/JSON and
// HdrHistogram encodings and logs in; Prometheus text and OTLP documents out.
// The readers and writers are histconv's (analyzer/formats); a FormatError
// becomes a ValueError with its line or field.
#include <fstream>
#include <sstream>
#include <string>

#include <pybind11/stl.h>

#include "bindings.hpp"
#include "formats.hpp"

namespace varrow_python {

namespace {

namespace vf = varrow_formats;

HistogramPtr adopt(varrow::Histogram h) { return std::make_unique<PyHistogram>(std::move(h), false); }

// Runs a reader or writer, its errors as ValueError.
template <class Work>
auto checked(Work work) {
  try {
    return work();
  } catch (const vf::FormatError &e) {
    throw py::value_error(e.what());
  }
}

std::string text_of(py::handle object) {
  if (py::isinstance<py::bytes>(object)) return object.cast<std::string>();
  if (py::isinstance<py::str>(object)) return object.cast<std::string>();
  throw py::type_error("expected str or bytes");
}

py::dict from_prometheus(py::handle text) {
  vf::Entries entries = checked([&] { return vf::read_prometheus(text_of(text)); });
  py::dict out;
  for (vf::Entry &e : entries) out[py::str(e.key)] = py::cast(adopt(std::move(e.histogram)));
  return out;
}

py::list from_otlp(py::handle document) {
  const std::string text = py::isinstance<py::str>(document) || py::isinstance<py::bytes>(document)
                               ? text_of(document)
                               : py::module_::import("json").attr("dumps")(document).cast<std::string>();
  vf::Entries entries = checked([&] { return vf::read_otlp(text); });
  py::list out;
  for (vf::Entry &e : entries) out.append(py::make_tuple(e.key, adopt(std::move(e.histogram))));
  return out;
}

HistogramPtr from_hdr(py::handle encoded, double unit) {
  std::string text = text_of(encoded);
  text.erase(text.find_last_not_of(" \t\r\n") + 1);
  if (text.find_first_of("\n,") != std::string::npos)
    throw py::value_error("one encoded histogram expected; read interval logs with read_hlog");
  vf::Entries entries = checked([&] { return vf::read_hdr(text, unit); });
  if (entries.size() != 1) throw py::value_error("one encoded histogram expected");
  return adopt(std::move(entries.front().histogram));
}

py::list read_hlog(py::handle path, double unit) {
  const std::string name = py::module_::import("os").attr("fsdecode")(path).cast<std::string>();
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, name.c_str());
    throw py::error_already_set();
  }
  std::stringstream text;
  text << in.rdbuf();
  vf::Entries entries = checked([&] { return vf::read_hdr(text.str(), unit); });
  py::list out;
  for (vf::Entry &e : entries) out.append(py::make_tuple(e.time, adopt(std::move(e.histogram))));
  return out;
}

// A copy of the histogram as the one entry of a writer's input.
vf::Entries entry_of(const PyHistogram &self) {
  std::lock_guard lock(self.mutex);
  vf::Entries entries;
  entries.push_back({"", "", {}, NAN, self.h.clone()});
  return entries;
}

std::string to_prometheus(const PyHistogram &self, const std::string &name, py::object le, py::object labels) {
  vf::PrometheusOptions options{name, {}, {}};
  if (!le.is_none()) {
    for (py::handle b : le) options.bounds.push_back(b.cast<double>());
    if (options.bounds.empty()) throw py::value_error("le holds no bound");
  }
  if (!labels.is_none()) {
    if (py::isinstance<py::str>(labels)) {
      options.labels = checked([&] { return vf::parse_label_list(labels.cast<std::string>()); });
    } else {
      for (auto [k, v] : labels.cast<py::dict>()) options.labels.push_back({py::str(k), py::str(v)});
    }
  }
  std::string out;
  checked([&] {
    vf::write_prometheus(entry_of(self), options, out);
    return 0;
  });
  return out;
}

py::object to_otlp(const PyHistogram &self, std::optional<int> scale, const std::string &name) {
  vf::OtlpOptions options;
  options.scale = scale;
  options.name = name;
  std::string out;
  checked([&] {
    vf::write_otlp(entry_of(self), options, out);
    return 0;
  });
  return py::module_::import("json").attr("loads")(out);
}

}  // namespace

void bind_formats(py::module_ &m) {
  m.def("from_prometheus", &from_prometheus, py::arg("text"),
        R"(Every classic histogram series of Prometheus text (exposition format 0.0.4
or OpenMetrics): a dict from series key (name{labels} without le) to Histogram,
in order of each series' first line.  Bad text raises ValueError naming the line.)");
  m.def("from_otlp", &from_otlp, py::arg("document"),
        R"(Every exponential and explicit-bucket histogram data point of an OTLP/JSON
metrics document (text, or the parsed dict): a list of (key, Histogram) in
document order.  Bad input raises ValueError naming the field.)");
  m.def("from_hdr", &from_hdr, py::arg("encoded"), py::arg("unit") = 1.0,
        R"(One encoded HdrHistogram ("HISTFAAA..."), each recorded integer worth unit.)");
  m.def("read_hlog", &read_hlog, py::arg("path"), py::arg("unit") = 1.0,
        R"(An HdrHistogram interval log: a list of (start seconds, Histogram), one per interval.)");
  auto histogram = py::reinterpret_borrow<py::class_<PyHistogram>>(m.attr("Histogram"));
  histogram.def("to_prometheus", &to_prometheus, py::arg("name"), py::arg("le") = py::none(),
                py::arg("labels") = py::none(),
                R"(The histogram as a Prometheus classic histogram in the exposition format:
cumulative counts at the bounds le (default .005 ... 10), exact below every bound
that is a bucket edge; labels a dict or 'k="v",...' text.)");
  histogram.def("to_otlp", &to_otlp, py::arg("scale") = py::none(), py::arg("name") = "histogram",
                R"(The histogram as an OTLP/JSON metrics document (a dict) with one exponential
histogram data point; scale -10..20, by default the finest within 160 buckets.)");
}

}  // namespace varrow_python
