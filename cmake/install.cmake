# What `cmake --install` lays out for hosts: the header with the header-only
# helpers for C and C++ hosts beside it, the shared library
# (on Windows with its import libraries and the .def file), the frostcap
# command, a CMake package, a pkg-config file and the documentation. The rest
# of the build (the static core, tests, benchmarks, fuzzers) is for developing
# the library and stays in the build tree.
#
# The simulated service for host developers' own tests is the component
# `sim`, installed only when asked for (`cmake --install DIR --component sim`):
# libfrostcap-sim with frostcap_sim.h, the target frostcap::sim, frostcap-sim.pc
# and, for Windows, the model's vssapi.dll in a folder of its own. It never
# goes into the release archive, which holds what runs backups.
#
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(FROSTCAP_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/frostcap)
set(frostcap_packaging_dir ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS frostcap EXPORT frostcapTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# frostcap.h is the whole contract; the others only spare hosts boilerplate
# (string literals, message texts, the requester set-up, a C++ owner).
install(FILES
  ${PROJECT_SOURCE_DIR}/include/frostcap.h
  ${PROJECT_SOURCE_DIR}/include/frostcap_host.h ${PROJECT_SOURCE_DIR}/include/frostcap_token_texts.h
  ${PROJECT_SOURCE_DIR}/include/frostcap_requester.h ${PROJECT_SOURCE_DIR}/include/frostcap.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
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

set_target_properties(frostcap_sim PROPERTIES EXPORT_NAME sim)
install(TARGETS frostcap_sim EXPORT frostcapSimTargets COMPONENT sim EXCLUDE_FROM_ALL
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS frostcap_sim_command COMPONENT sim EXCLUDE_FROM_ALL
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/frostcap_sim.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT sim EXCLUDE_FROM_ALL)
install(EXPORT frostcapSimTargets NAMESPACE frostcap:: DESTINATION ${FROSTCAP_INSTALL_CMAKEDIR}
  COMPONENT sim EXCLUDE_FROM_ALL)
configure_file(${PROJECT_SOURCE_DIR}/cmake/frostcap-sim.pc.in
  ${frostcap_packaging_dir}/frostcap-sim.pc @ONLY)
install(FILES ${frostcap_packaging_dir}/frostcap-sim.pc DESTINATION ${pc_dir}
  COMPONENT sim EXCLUDE_FROM_ALL)
if(WIN32)
  # In a folder of its own: beside a program on real Windows it would stand in
  # for the system's service. Wine takes it when it lies beside the program
  # and WINEDLLOVERRIDES=vssapi=n says so.
  install(FILES $<TARGET_FILE:frostcap_vssapi>
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/frostcap-model COMPONENT sim EXCLUDE_FROM_ALL)
endif()

# The same file for the build tree, so that the bindings' own tests (Go's cgo
# through `#cgo pkg-config`) find the simulated service where it was built.
set(FROSTCAP_PC_PREFIX ${PROJECT_BINARY_DIR})
set(FROSTCAP_PC_LIBDIR $<TARGET_FILE_DIR:frostcap_sim>)
set(FROSTCAP_PC_INCLUDEDIR ${PROJECT_SOURCE_DIR}/include)
configure_file(${PROJECT_SOURCE_DIR}/cmake/frostcap-sim.pc.in
  ${frostcap_packaging_dir}/build-tree/frostcap-sim.pc.in @ONLY)
file(GENERATE OUTPUT ${frostcap_packaging_dir}/build-tree/frostcap-sim.pc
  INPUT ${frostcap_packaging_dir}/build-tree/frostcap-sim.pc.in)
set(FROSTCAP_BUILD_TREE_PKG_CONFIG_PATH ${frostcap_packaging_dir}/build-tree)

# The docs keep their folder, so that the README's links still lead to them.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
  FILES_MATCHING PATTERN "*.md")
