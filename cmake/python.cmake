# Decides whether the Python module is built: by default when the
# interpreter's development files and pybind11 are found.  Debian's apt puts
# numpy and pybind11 under the system interpreter, and a python3 found first
# on PATH (pyenv, a virtual environment) may lack them, so the system one is
# preferred unless Python3_EXECUTABLE names another.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The Python interpreter the module is built for")
endif()
find_package(Python3 3.8 QUIET COMPONENTS Interpreter Development.Module)
if(Python3_FOUND)
  find_package(pybind11 2.6 CONFIG QUIET)
endif()

# An instrumented module cannot be loaded by the uninstrumented interpreter.
if(Python3_FOUND AND pybind11_FOUND AND NOT VARROW_SANITIZE)
  set(VARROW_PYTHON_DEFAULT ON)
else()
  set(VARROW_PYTHON_DEFAULT OFF)
endif()
option(VARROW_BUILD_PYTHON "Build the Python module (needs Python 3 development files and pybind11)"
  ${VARROW_PYTHON_DEFAULT})
if(VARROW_BUILD_PYTHON AND NOT (Python3_FOUND AND pybind11_FOUND))
  message(FATAL_ERROR "VARROW_BUILD_PYTHON needs Python 3 development files and pybind11")
endif()
