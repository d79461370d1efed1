# The toolchains of hosts in other languages (Mono, Go, clang and lld-link for
# MSVC-style hosts) are optional: without one, the tests that need it are
# registered as skipped, saying what is missing. scripts/test.sh installs
# them all and sets FROSTCAP_REQUIRE_HOST_TOOLCHAINS, so that in its runs a
# missing toolchain is an error rather than a skipped test.
option(FROSTCAP_REQUIRE_HOST_TOOLCHAINS
  "Fail to configure when a toolchain for the hosts in other languages is missing" OFF)

# find_program(variable NAMES names...), an error when it finds nothing and
# the toolchains are required.
function(frostcap_find_host_tool variable)
  find_program(${variable} NAMES ${ARGN})
  if(NOT ${variable} AND FROSTCAP_REQUIRE_HOST_TOOLCHAINS)
    message(FATAL_ERROR "none of ${ARGN} was found; FROSTCAP_REQUIRE_HOST_TOOLCHAINS is on")
  endif()
endfunction()

# A test that reports itself skipped, with the reason.
function(frostcap_skipped_test name reason)
  add_test(NAME ${name} COMMAND sh -c "echo 'skipped: ${reason}'; exit 77")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
