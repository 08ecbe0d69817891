# HdrHistogram_c, the peer that benchmarks and tests compare with, built from
# its source (a directory or a .tar.gz) named by HDR_HISTOGRAM_SOURCE (CMake
# or environment variable), by default the copy beside this project's
# checkout.  Its code never enters this repository.  Defines the target
# hdr_peer and HDR_PEER_SOURCE_DIR (its tree, with the test logs in test/)
# when the source, zlib and threads are there; neither otherwise.
if(TARGET hdr_peer)
  return()
endif()
set(HDR_HISTOGRAM_SOURCE "$ENV{HDR_HISTOGRAM_SOURCE}" CACHE PATH "HdrHistogram_c source directory or tarball")
if(NOT HDR_HISTOGRAM_SOURCE AND EXISTS ${CMAKE_SOURCE_DIR}/../shared/peers/HdrHistogram_c.tar.gz)
  set(HDR_HISTOGRAM_SOURCE ${CMAKE_SOURCE_DIR}/../shared/peers/HdrHistogram_c.tar.gz)
endif()
set(hdr_source_dir ${HDR_HISTOGRAM_SOURCE})
if(HDR_HISTOGRAM_SOURCE MATCHES "\\.(tar\\.gz|tgz)$" AND EXISTS ${HDR_HISTOGRAM_SOURCE})
  file(ARCHIVE_EXTRACT INPUT ${HDR_HISTOGRAM_SOURCE} DESTINATION ${CMAKE_BINARY_DIR}/hdr_peer)
  file(GLOB hdr_source_dir ${CMAKE_BINARY_DIR}/hdr_peer/*)
endif()
find_package(ZLIB QUIET)
find_package(Threads QUIET)
if(hdr_source_dir AND EXISTS ${hdr_source_dir}/src/hdr_histogram.c AND ZLIB_FOUND AND Threads_FOUND)
  file(GLOB hdr_sources ${hdr_source_dir}/src/*.c)
  list(FILTER hdr_sources EXCLUDE REGEX "_no_op\\.c$")
  add_library(hdr_peer STATIC ${hdr_sources})
  target_include_directories(hdr_peer PUBLIC ${hdr_source_dir}/include PRIVATE ${hdr_source_dir}/src)
  target_compile_options(hdr_peer PRIVATE -w)
  target_link_libraries(hdr_peer PUBLIC ZLIB::ZLIB Threads::Threads m)
  set(HDR_PEER_SOURCE_DIR ${hdr_source_dir})
endif()
