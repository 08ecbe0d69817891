// varrow.Recorder: the library's thread-safe recorder.  Insertions run
// concurrently from any number of threads (the bulk one without the GIL);
// snapshots are taken one at a time, as the recorder requires.
#include "bindings.hpp"

namespace varrow_python {

namespace {

struct PyRecorder {
  varrow::Recorder recorder;
  std::mutex snapshots;
};

struct Insert {
  static constexpr auto value = hist_recorder_insert;
  static constexpr auto integer = hist_recorder_insert_intscale;
  static constexpr auto corrected = hist_recorder_insert_corrected;
};

uint64_t insert_array(PyRecorder &self, py::handle values, py::handle counts, py::handle expected_interval) {
  const auto guarded = [&](auto &&work) {
    py::gil_scoped_release release;
    return work(self.recorder.get());
  };
  return varrow_python::insert_many<Insert>(guarded, values, counts, expected_interval);
}

HistogramPtr snapshot(PyRecorder &self, bool reset, bool fast) {
  HistogramPtr out = make_histogram(fast);
  int status;
  {
    py::gil_scoped_release release;
    std::lock_guard lock(self.snapshots);
    status = hist_recorder_snapshot(self.recorder.get(), out->h.get(), reset);
  }
  if (status < 0) throw std::bad_alloc();
  return out;
}

}  // namespace

void bind_recorder(py::module_ &m) {
  py::class_<PyRecorder>(m, "Recorder", R"(A histogram that any number of threads record into at once without contending
(each thread counts into a shard of its own); snapshot() adds the shards up.
Every sample lands in exactly one snapshot taken with reset=True.)")
      .def(py::init<>())
      .def(
          "insert",
          [](PyRecorder &self, double value, py::handle count) {
            return hist_recorder_insert(self.recorder.get(), value, to_count(count));
          },
          py::arg("value"), py::arg("count") = 1, "Adds count samples of value; returns the amount added.")
      .def("insert_many", &insert_array, py::arg("values"), py::arg("counts") = py::none(), py::kw_only(),
           py::arg("expected_interval") = py::none(),
           "As Histogram.insert_many, without the GIL: other threads record meanwhile.")
      .def(
          "insert_corrected",
          [](PyRecorder &self, double value, double expected_interval, py::handle count) {
            const uint64_t n = to_count(count);
            const double interval = correction_interval(expected_interval);
            return insert_corrected(value, interval, [&] {
              return hist_recorder_insert_corrected(self.recorder.get(), value, interval, n);
            });
          },
          py::arg("value"), py::arg("expected_interval"), py::arg("count") = 1,
          "As Histogram.insert_corrected.")
      .def("snapshot", &snapshot, py::kw_only(), py::arg("reset") = false, py::arg("fast") = false,
           "A new Histogram of everything recorded since the last reset; reset=True starts a new\n"
           "interval, so that consecutive snapshots hold disjoint samples.")
      .def("__repr__", [](PyRecorder &self) {
        return "varrow.Recorder(count=" + std::to_string(snapshot(self, false, false)->h.sample_count()) + ")";
      });
}

}  // namespace varrow_python
