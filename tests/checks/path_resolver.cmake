cmake_minimum_required(VERSION 3.25)

# Checks a library's whole symbol table, internal symbols included, for the
# path resolver through which the simulated service maps volume and device
# names to host directories:
#   RESOLVER=absent:  the shipped library; its directory search opens every
#                     directory as named.
#   RESOLVER=present: frostcap-sim, which needs it.
# Either way the directory search must be listed, so that a library stripped
# of its symbols cannot pass for one without a resolver. NM is an nm that
# reads the library's format (ELF or PE).

execute_process(COMMAND ${NM} -C ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
get_filename_component(file ${LIBRARY} NAME)
if(NOT out MATCHES "frostcap::platform::DirectorySearch::DirectorySearch\\(")
  message(FATAL_ERROR "${file} lists no directory search: are its symbols stripped?")
endif()
if(out MATCHES "frostcap::platform::setPathResolver\\(")
  set(found present)
else()
  set(found absent)
endif()
if(NOT found STREQUAL RESOLVER)
  message(FATAL_ERROR "${file}: the path resolver is ${found}, expected ${RESOLVER}")
endif()
message(STATUS "${file}: the path resolver is ${found}, as expected")
