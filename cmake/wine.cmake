# Test executables of the Windows build run under Wine, headless, in a prefix
# of the build's own. The prefix is made once, by a test fixture that every
# Windows test requires; a wineserver started there with its output detached
# serves every later Wine process, so that none of them leaves a daemon holding
# CTest's output pipe open.
find_program(WINE64 NAMES wine64 wine REQUIRED)
find_program(WINESERVER NAMES wineserver64 wineserver REQUIRED)
find_program(WINEBOOT NAMES wineboot REQUIRED)

set(FROSTCAP_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(FROSTCAP_WINE_ENV
  WINEPREFIX=${FROSTCAP_WINEPREFIX}
  WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml=")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${FROSTCAP_WINE_ENV} ${WINE64})

# Registers the fixture; call once, after enable_testing().
function(frostcap_add_wine_fixture)
  add_test(NAME wine_prefix
    COMMAND ${CMAKE_COMMAND} -E env ${FROSTCAP_WINE_ENV}
      WINEBOOT=${WINEBOOT} WINESERVER=${WINESERVER}
      sh ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)
  add_test(NAME wine_shutdown
    COMMAND ${CMAKE_COMMAND} -E env ${FROSTCAP_WINE_ENV} sh -c "'${WINESERVER}' -k || true")
  set_tests_properties(wine_shutdown PROPERTIES FIXTURES_CLEANUP wine)
endfunction()
