cmake_minimum_required(VERSION 3.25)

# Checks the export table of the shipped library against the .def file, the
# one list of the nineteen functions:
#   KIND=pe:  frostcap.dll exports exactly those names, with ordinals 1..19 in
#             alphabetical order, and imports from Windows system DLLs only.
#   KIND=elf: libfrostcap.so's dynamic symbol table defines exactly those names.
# With EXTRA_HEADER=include/frostcap_sim.h (frostcap-sim), the functions that
# header declares are expected besides the nineteen; in a DLL they follow the
# nineteen's ordinals in the order the header declares them.

file(STRINGS ${DEF} def_lines REGEX "^ +frostcap_")
set(expected)
foreach(line IN LISTS def_lines)
  string(REGEX MATCH "frostcap_[A-Za-z_]+" name "${line}")
  list(APPEND expected ${name})
endforeach()
list(LENGTH expected count)
if(NOT count EQUAL 19)
  message(FATAL_ERROR "the .def file lists ${count} functions, not 19")
endif()
set(sorted ${expected})
list(SORT sorted COMPARE STRING)
if(NOT sorted STREQUAL expected)
  message(FATAL_ERROR "the .def file is not in alphabetical order")
endif()

if(DEFINED EXTRA_HEADER)
  file(STRINGS ${EXTRA_HEADER} declarations REGEX "^FROSTCAP_API ")
  set(extra)
  foreach(line IN LISTS declarations)
    string(REGEX MATCH "frostcap_[A-Za-z_]+\\(" name "${line}")
    string(REPLACE "(" "" name "${name}")
    list(APPEND extra ${name})
  endforeach()
  if(NOT extra)
    message(FATAL_ERROR "${EXTRA_HEADER} declares no function")
  endif()
  list(APPEND expected ${extra})
  list(LENGTH expected count)
endif()

# The ordinal of a name is its place in the list so far; the names are then
# compared in the order the tables list them.
set(by_ordinal ${expected})
list(SORT expected COMPARE STRING)

function(fail_unless_equal what actual)
  if(NOT actual STREQUAL expected)
    string(REPLACE ";" "\n  " a "${actual}")
    string(REPLACE ";" "\n  " e "${expected}")
    message(FATAL_ERROR "${what}:\n  ${a}\nexpected:\n  ${e}")
  endif()
endfunction()

if(KIND STREQUAL "elf")
  execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
  endif()
  string(REPLACE "\n" ";" lines "${out}")
  set(actual)
  foreach(line IN LISTS lines)
    # Only code and data symbols count; the version node is not an export.
    if(line MATCHES "^[0-9a-f]+ [TDBRVW] ([^ ]+)$")
      list(APPEND actual ${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(SORT actual COMPARE STRING)
  get_filename_component(file ${LIBRARY} NAME)
  fail_unless_equal("${file} exports" "${actual}")
  message(STATUS "${file} exports exactly the ${count} functions")
  return()
endif()

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")

# Export table. The name table lists the names in alphabetical order, each
# with its index into the address table; the ordinal is that index plus the
# ordinal base: "Export Address Table -- Ordinal Base 1" then, under
# "[Ordinal/Name Pointer] Table", lines such as "	[   0] frostcap_library_init".
set(base "")
set(in_names FALSE)
set(actual)
foreach(line IN LISTS lines)
  if(line MATCHES "Ordinal Base ([0-9]+)")
    set(base ${CMAKE_MATCH_1})
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^[ \t]*\\[ *([0-9]+)\\] ([^ ]+)$")
    math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
    list(FIND by_ordinal "${CMAKE_MATCH_2}" expected_ordinal)
    math(EXPR expected_ordinal "${expected_ordinal} + 1")
    if(NOT ordinal EQUAL expected_ordinal)
      message(FATAL_ERROR "${CMAKE_MATCH_2} has ordinal ${ordinal}, expected ${expected_ordinal}")
    endif()
    list(APPEND actual ${CMAKE_MATCH_2})
  elseif(in_names)
    set(in_names FALSE)
  endif()
endforeach()
get_filename_component(file ${LIBRARY} NAME)
fail_unless_equal("${file} exports (in name order)" "${actual}")

# Import table: every DLL must be one that every Windows system has.
set(system_dlls
  kernel32.dll ole32.dll oleaut32.dll shlwapi.dll vssapi.dll msvcrt.dll advapi32.dll
  user32.dll ntdll.dll)
set(imports)
foreach(line IN LISTS lines)
  if(line MATCHES "DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND imports ${dll})
    if(NOT dll IN_LIST system_dlls AND NOT dll MATCHES "^api-ms-win-")
      message(FATAL_ERROR "${file} imports ${dll}, which is not a Windows system DLL")
    endif()
  endif()
endforeach()
message(STATUS "${file} exports the ${count} functions by ordinal; imports: ${imports}")
