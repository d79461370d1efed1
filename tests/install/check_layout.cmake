cmake_minimum_required(VERSION 3.25)

# Checks the exact set of files a build installs, so that nothing is missing
# and nothing of the build tree (tests, the static core, the simulated
# service, objects) slips in:
#   KIND=windows: the release archive, packed by cmake/pack-release.cmake, all
#                 of it under one folder frostcap-VERSION-win64;
#   KIND=native:  `cmake --install` into a fresh prefix, with the shared
#                 library's soname links.
# Also given: BUILD_DIR, WORK (scratch directory), SOURCE_DIR, VERSION and
# the install directories BINDIR, LIBDIR, INCLUDEDIR, DOCDIR.

string(REGEX MATCH "^[0-9]+" major "${VERSION}")
set(expected
  ${INCLUDEDIR}/frostcap.h
  ${INCLUDEDIR}/frostcap.hpp
  ${INCLUDEDIR}/frostcap_host.h
  ${INCLUDEDIR}/frostcap_requester.h
  ${INCLUDEDIR}/frostcap_token_texts.h
  ${LIBDIR}/cmake/frostcap/frostcapConfig.cmake
  ${LIBDIR}/cmake/frostcap/frostcapConfigVersion.cmake
  ${LIBDIR}/cmake/frostcap/frostcapTargets.cmake
  ${LIBDIR}/cmake/frostcap/frostcapTargets-CONFIG.cmake
  ${LIBDIR}/pkgconfig/frostcap.pc
  ${DOCDIR}/LICENSE
  ${DOCDIR}/README.md)
file(GLOB docs RELATIVE ${SOURCE_DIR}/docs ${SOURCE_DIR}/docs/*.md)
list(TRANSFORM docs PREPEND ${DOCDIR}/docs/)
list(APPEND expected ${docs})

file(REMOVE_RECURSE ${WORK})
if(KIND STREQUAL "windows")
  list(APPEND expected
    ${BINDIR}/frostcap.dll ${BINDIR}/frostcap.exe
    ${LIBDIR}/frostcap.def ${LIBDIR}/frostcap.lib ${LIBDIR}/libfrostcap.dll.a)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${BUILD_DIR} -DOUTPUT_DIR=${WORK} -DPLATFORM=win64
      -P ${SOURCE_DIR}/cmake/pack-release.cmake
    RESULT_VARIABLE rc)
  set(top frostcap-${VERSION}-win64)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/${top}.zip)
    message(FATAL_ERROR "packing the release archive ${top}.zip failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${WORK}/${top}.zip
    OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot list ${top}.zip")
  endif()
  string(REGEX REPLACE "\n$" "" listing "${listing}")
  string(REPLACE "\n" ";" entries "${listing}")
  set(actual)
  foreach(entry IN LISTS entries)
    if(NOT entry MATCHES "^${top}/")
      message(FATAL_ERROR "${top}.zip holds ${entry}, outside its folder ${top}")
    endif()
    string(REGEX REPLACE "^${top}/" "" entry "${entry}")
    if(NOT entry STREQUAL "" AND NOT entry MATCHES "/$")
      list(APPEND actual ${entry})
    endif()
  endforeach()
  set(what "${top}.zip")
elseif(KIND STREQUAL "native")
  set(library ${LIBDIR}/libfrostcap.so)
  list(APPEND expected ${BINDIR}/frostcap ${library} ${library}.${major} ${library}.${VERSION})
  execute_process(
    COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK}/prefix
    OUTPUT_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installing ${BUILD_DIR} failed")
  endif()
  # Hosts link against libfrostcap.so and load the soname, which must both
  # lead to the one real file.
  foreach(link_and_target "${library}|libfrostcap.so.${major}"
                          "${library}.${major}|libfrostcap.so.${VERSION}")
    string(REPLACE "|" ";" link_and_target "${link_and_target}")
    list(GET link_and_target 0 link)
    list(GET link_and_target 1 target)
    set(points_to "")
    if(IS_SYMLINK ${WORK}/prefix/${link})
      file(READ_SYMLINK ${WORK}/prefix/${link} points_to)
    endif()
    if(NOT points_to STREQUAL target)
      message(FATAL_ERROR "${link} is not a link to ${target}")
    endif()
  endforeach()
  file(GLOB_RECURSE actual LIST_DIRECTORIES false RELATIVE ${WORK}/prefix ${WORK}/prefix/*)
  set(what "the installed tree")
else()
  message(FATAL_ERROR "KIND must be windows or native, not '${KIND}'")
endif()

# The per-configuration targets file is named after the build type.
list(TRANSFORM actual REPLACE "frostcapTargets-[a-z]+\\.cmake$" "frostcapTargets-CONFIG.cmake")
list(SORT actual)
list(SORT expected)
if(NOT actual STREQUAL expected)
  set(missing ${expected})
  list(REMOVE_ITEM missing ${actual})
  set(extra ${actual})
  list(REMOVE_ITEM extra ${expected})
  string(REPLACE ";" "\n  " missing "${missing}")
  string(REPLACE ";" "\n  " extra "${extra}")
  message(FATAL_ERROR "${what} differs from the expected layout\nmissing:\n  ${missing}\n"
                      "unexpected:\n  ${extra}")
endif()
list(LENGTH actual count)
message(STATUS "${what}: the expected ${count} files")
