# The library's folders form layers, and an include never runs back up:
# src/exports (the exported functions) is above everything; the Parts
# (backup, catalogue, inventory) are above src/frame (the handle's state,
# queues, message texts, StepResult, the guard), which is above vss, status
# and platform.
#   cmake -DSOURCE_DIR=<src> -P layers.cmake
set(layers exports "backup|catalogue|inventory" frame "vss|status|platform")
list(LENGTH layers count)
math(EXPR last "${count} - 1")
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.cpp ${SOURCE_DIR}/*.h)
set(breaches)
foreach(level RANGE ${last})
  list(GET layers ${level} folders)
  # What lies above this layer, which it must not include.
  set(above)
  if(level GREATER 0)
    math(EXPR upper "${level} - 1")
    foreach(index RANGE ${upper})
      list(GET layers ${index} folder)
      list(APPEND above ${folder})
    endforeach()
    list(JOIN above "|" above)
  endif()
  foreach(source IN LISTS sources)
    if(NOT source MATCHES "^(${folders})/" OR above STREQUAL "")
      continue()
    endif()
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^#include \"(${above})/")
    foreach(include IN LISTS includes)
      list(APPEND breaches "${source}: ${include}")
    endforeach()
  endforeach()
endforeach()
if(breaches)
  list(JOIN breaches "\n  " shown)
  message(FATAL_ERROR "includes that run back up a layer:\n  ${shown}")
endif()
