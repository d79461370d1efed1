# Header-only libraries from Debian's packages (nlohmann-json3-dev,
# libcli11-dev). Their own folders are linked into one include directory of
# the build, rather than putting all of /usr/include on the path, which would
# hand the cross compiler the host's C library headers.
set(FROSTCAP_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${FROSTCAP_THIRD_PARTY_INCLUDE})
foreach(package nlohmann CLI)
  if(NOT EXISTS /usr/include/${package})
    message(FATAL_ERROR "/usr/include/${package} is missing: install nlohmann-json3-dev and "
                        "libcli11-dev (scripts/test.sh does)")
  endif()
  file(CREATE_LINK /usr/include/${package} ${FROSTCAP_THIRD_PARTY_INCLUDE}/${package} SYMBOLIC)
endforeach()
add_library(frostcap_third_party INTERFACE)
target_include_directories(frostcap_third_party SYSTEM INTERFACE ${FROSTCAP_THIRD_PARTY_INCLUDE})
