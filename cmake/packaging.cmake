# Installation: headers, libraries, a CMake package (find_package(varrow
# CONFIG) gives varrow::varrow, varrow::distfn, varrow::ipmpar) and pkg-config
# files.  The version comes from the project() call alone.
include(CMakePackageConfigHelpers)

set(VARROW_INSTALLED_LIBRARIES varrow distfn ipmpar)
if(VARROW_BUILD_SHARED)
  # The same sources again as position-independent shared libraries named
  # libvarrow.so.N etc.; hidden visibility keeps everything but the public
  # headers' declarations out of their symbol tables.
  foreach(library ipmpar distfn varrow)
    get_target_property(sources ${library} SOURCES)
    get_target_property(source_dir ${library} SOURCE_DIR)
    list(TRANSFORM sources PREPEND ${source_dir}/ REGEX "^[^/]")
    add_library(${library}_shared SHARED ${sources})
    get_target_property(include_dirs ${library} INTERFACE_INCLUDE_DIRECTORIES)
    target_include_directories(${library}_shared PUBLIC ${include_dirs})
    target_compile_options(${library}_shared PRIVATE ${VARROW_LIBRARY_CXX_FLAGS})
    set_target_properties(${library}_shared PROPERTIES OUTPUT_NAME ${library}
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    list(APPEND VARROW_INSTALLED_LIBRARIES ${library}_shared)
  endforeach()
  target_link_libraries(ipmpar_shared PUBLIC m)
  target_link_libraries(distfn_shared PUBLIC ipmpar_shared m)
  target_link_libraries(varrow_shared PUBLIC distfn_shared m)
endif()

install(TARGETS ${VARROW_INSTALLED_LIBRARIES} EXPORT varrowTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(VARROW_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/varrow)
install(EXPORT varrowTargets NAMESPACE varrow:: DESTINATION ${VARROW_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/varrowConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/varrowConfig.cmake INSTALL_DESTINATION ${VARROW_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/varrowConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/varrowConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/varrowConfigVersion.cmake
  DESTINATION ${VARROW_CMAKE_DIR})

# The .pc files find the prefix relative to their own folder, so an installed
# tree can be moved (or installed with --prefix) and still be found.
file(RELATIVE_PATH VARROW_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
foreach(pc varrow distfn)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
