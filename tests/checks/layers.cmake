# The library's folders form layers, and an include never runs back up a
# layer nor sideways between two folders of one layer:
#   src/exports      the exported functions, above everything
#   src/backup       the backup road (preparation, snapshot set, completion)
#   src/catalogue, src/inventory
#                    the component catalogue and the file inventory, which
#                    the road uses and which know nothing of it or of each
#                    other
#   src/selection    what the host selected, how a selection is matched and
#                    which metadata entry belongs to which selected writer
#   src/frame        the handle's state, queues, message texts, StepResult,
#                    the guard
#   src/vss, src/status, src/platform
#                    the seam to the service, status texts, the operating
#                    system, each above the next
#   cmake -DSOURCE_DIR=<src> -P layers.cmake
set(layers exports backup "catalogue|inventory" selection frame vss status platform)
list(LENGTH layers count)
math(EXPR last "${count} - 1")
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.cpp ${SOURCE_DIR}/*.h)
set(breaches)
foreach(level RANGE ${last})
  list(GET layers ${level} folders)
  string(REPLACE "|" ";" own "${folders}")
  foreach(folder IN LISTS own)
    # What this folder must not include: the layers above it and the other
    # folders of its own layer.
    set(forbidden)
    if(level GREATER 0)
      math(EXPR upper "${level} - 1")
      foreach(index RANGE ${upper})
        list(GET layers ${index} above)
        list(APPEND forbidden ${above})
      endforeach()
    endif()
    foreach(sibling IN LISTS own)
      if(NOT sibling STREQUAL folder)
        list(APPEND forbidden ${sibling})
      endif()
    endforeach()
    if(NOT forbidden)
      continue()
    endif()
    list(JOIN forbidden "|" forbidden)
    foreach(source IN LISTS sources)
      if(NOT source MATCHES "^${folder}/")
        continue()
      endif()
      file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^#include \"(${forbidden})/")
      foreach(include IN LISTS includes)
        list(APPEND breaches "${source}: ${include}")
      endforeach()
    endforeach()
  endforeach()
endforeach()
if(breaches)
  list(JOIN breaches "\n  " shown)
  message(FATAL_ERROR "includes that run back up a layer or across one:\n  ${shown}")
endif()
