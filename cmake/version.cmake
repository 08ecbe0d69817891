# The one version of everything: project(VERSION) in the top CMakeLists.txt.
# Each library's headers carry it as <library>_version.h, written here into
# the build tree, added to the public include path of the targets that
# compile its header, and installed beside that header.
function(varrow_version_header library prefix)
  set(VERSION_LIBRARY ${library})
  set(VERSION_PREFIX ${prefix})
  set(VERSION_HEADER ${library}_version.h)
  set(include_dir ${CMAKE_CURRENT_BINARY_DIR}/include)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.h.in ${include_dir}/${VERSION_HEADER} @ONLY)
  foreach(target ${ARGN})
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${include_dir}>)
  endforeach()
  install(FILES ${include_dir}/${VERSION_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endfunction()
