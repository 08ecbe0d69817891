// varrow._core: the histogram library and the distfn front ends for Python.
// Each concern binds its part of the module from a source of its own.
#include "bindings.hpp"

PYBIND11_MODULE(_core, m) {
  m.doc() = "The C core of varrow: histograms and the distfn front ends.";
  m.attr("__version__") = hist_version();
  varrow_python::bind_histogram(m);
  varrow_python::bind_recorder(m);
  varrow_python::bind_distfn(m);
  varrow_python::bind_formats(m);
}
