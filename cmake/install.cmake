# What `cmake --install` lays out for hosts: the header, the shared library
# (on Windows with its import libraries and the .def file), the frostcap
# command, a CMake package, a pkg-config file and the documentation. The rest
# of the build (the static core, the simulated service, tests, benchmarks,
# fuzzers) is for developing the library and stays in the build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(FROSTCAP_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/frostcap)
set(frostcap_packaging_dir ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS frostcap EXPORT frostcapTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/frostcap.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  # Microsoft's linker reads frostcap.lib; other toolchains can make their own
  # import library from the .def file.
  install(FILES ${PROJECT_BINARY_DIR}/src/frostcap.lib ${PROJECT_SOURCE_DIR}/src/frostcap.def
    DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(TARGETS frostcap_command RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# find_package(frostcap CONFIG) gives frostcap::frostcap.
install(EXPORT frostcapTargets NAMESPACE frostcap:: DESTINATION ${FROSTCAP_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/frostcapConfig.cmake.in
  ${frostcap_packaging_dir}/frostcapConfig.cmake
  INSTALL_DESTINATION ${FROSTCAP_INSTALL_CMAKEDIR})
# Same rule as the soname: hosts built against one major version keep working
# with any later release of it.
write_basic_package_version_file(${frostcap_packaging_dir}/frostcapConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${frostcap_packaging_dir}/frostcapConfig.cmake
  ${frostcap_packaging_dir}/frostcapConfigVersion.cmake
  DESTINATION ${FROSTCAP_INSTALL_CMAKEDIR})

# The .pc file finds its prefix from where it lies, so that an installed tree
# keeps working when it is moved, unpacked elsewhere, or installed with
# `cmake --install --prefix` into a place other than the configured one.
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${pc_dir}")
  set(FROSTCAP_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH pc_to_prefix /prefix/${pc_dir} /prefix)
  string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
  set(FROSTCAP_PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(FROSTCAP_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(FROSTCAP_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/frostcap.pc.in ${frostcap_packaging_dir}/frostcap.pc
  @ONLY)
install(FILES ${frostcap_packaging_dir}/frostcap.pc DESTINATION ${pc_dir})

# The docs keep their folder, so that the README's links still lead to them.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
  FILES_MATCHING PATTERN "*.md")
