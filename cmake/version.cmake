# The version is written once, in the public header, where hosts compile
# against it; the build, the packages and the release archive read it from
# there. Usable before project() and from scripts run with cmake -P.

# Sets out_var to "MAJOR.MINOR.PATCH" from the header's three number macros,
# and stops with an error when FROSTCAP_VERSION, the same version as text,
# says otherwise.
function(frostcap_read_version header out_var)
  file(STRINGS "${header}" lines REGEX "^#define FROSTCAP_VERSION(_[A-Z]+)? ")
  foreach(part MAJOR MINOR PATCH)
    set(number "")
    foreach(line IN LISTS lines)
      if(line MATCHES "^#define FROSTCAP_VERSION_${part} +([0-9]+) *$")
        set(number ${CMAKE_MATCH_1})
      endif()
    endforeach()
    if(number STREQUAL "")
      message(FATAL_ERROR "${header}: no numeric FROSTCAP_VERSION_${part}")
    endif()
    list(APPEND numbers ${number})
  endforeach()
  list(JOIN numbers "." version)

  set(text "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^#define FROSTCAP_VERSION +\"([^\"]*)\" *$")
      set(text "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  if(NOT text STREQUAL version)
    message(FATAL_ERROR "${header}: FROSTCAP_VERSION is \"${text}\" but the "
                        "FROSTCAP_VERSION_MAJOR/MINOR/PATCH macros say ${version}")
  endif()
  set(${out_var} ${version} PARENT_SCOPE)
endfunction()
