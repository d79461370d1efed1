# Packs an installed build into a release archive, run with cmake -P:
#
#   cmake -DBUILD_DIR=build/windows -DOUTPUT_DIR=build/windows -DPLATFORM=win64
#         -P cmake/pack-release.cmake
#
# installs BUILD_DIR, stripped, into a staging directory under OUTPUT_DIR and
# packs it as OUTPUT_DIR/frostcap-<version>-<PLATFORM>.zip, one top folder of
# the same name holding the installed tree. Only what the install rules lay
# out goes in, never anything else of the build tree.
#
# With -DDEVELOPER=ON it packs the developer archive instead,
# frostcap-<version>-<PLATFORM>-dev.zip: the same tree plus the install
# component `sim` (the library over the simulated service, its header, CMake target and pkg-config
# file, and for Windows the model's vssapi.dll), for host developers' own
# tests. The release archive never holds it.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)

foreach(variable BUILD_DIR OUTPUT_DIR PLATFORM)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "pack-release.cmake needs -D${variable}=...")
  endif()
endforeach()
get_filename_component(output_dir "${OUTPUT_DIR}" ABSOLUTE)
set(suffix "")
if(DEVELOPER)
  set(suffix -dev)
endif()
set(staging ${output_dir}/release-staging${suffix})

file(REMOVE_RECURSE ${staging})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${staging}/tree --strip
  OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installing ${BUILD_DIR} failed")
endif()
if(DEVELOPER)
  execute_process(
    COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${staging}/tree --strip
      --component sim
    OUTPUT_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installing the component sim of ${BUILD_DIR} failed")
  endif()
endif()

# Named after the version of the header it ships.
frostcap_read_version(${staging}/tree/include/frostcap.h version)
set(name frostcap-${version}-${PLATFORM}${suffix})
file(RENAME ${staging}/tree ${staging}/${name})
file(REMOVE ${output_dir}/${name}.zip)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${output_dir}/${name}.zip --format=zip ${name}
  WORKING_DIRECTORY ${staging} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "packing ${output_dir}/${name}.zip failed")
endif()
file(REMOVE_RECURSE ${staging})
message(STATUS "${output_dir}/${name}.zip")
