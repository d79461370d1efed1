# frostcap.exe under Wine over the model's vssapi.dll, with --trace: the
# library's trace and the model's record observe one run and must list the
# same calls with the same statuses. The runs are those of traces/cases.json
# (each with --exec appended); their traces and output (standard output and
# the error lines of standard error) are kept in traces/,
# where the native replay test (test_replay.py) takes them, so a run here
# must still give them. After a change to the calls the library makes, run
# this test with REFRESH=1 in the environment to write them anew.
#
# cmake -DPROGRAM_DIR=dir -DTOOL=frostcap-sim.exe -DVSSAPI=vssapi.dll
#       -DEXAMPLES=examples -DTRACES=tests/replay/traces -DWINE=wine -DWORK=dir
#       -P replay_under_wine.cmake, with the Wine prefix's variables in the
# environment; PROGRAM_DIR holds frostcap.exe and frostcap.dll.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${PROGRAM_DIR}/frostcap.exe ${PROGRAM_DIR}/frostcap.dll ${VSSAPI} ${TOOL}
  ${EXAMPLES}/two-writers.json ${EXAMPLES}/volume ${EXAMPLES}/field DESTINATION ${WORK})
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=;vssapi=n")
get_filename_component(tool ${TOOL} NAME)

# frostcap-sim.exe compare A B, which must find that they agree.
function(expect_agreement a b)
  execute_process(COMMAND ${WINE} ${tool} compare ${a} ${b} WORKING_DIRECTORY ${WORK}
    INPUT_FILE /dev/null OUTPUT_FILE ${WORK}/compare.out ERROR_FILE ${WORK}/compare.err
    RESULT_VARIABLE exit_code)
  file(READ ${WORK}/compare.out out)
  file(READ ${WORK}/compare.err err)
  if(NOT exit_code EQUAL 0)
    message(FATAL_ERROR "compare ${a} ${b}: exit code ${exit_code}\n${out}${err}")
  endif()
endfunction()

file(READ ${TRACES}/cases.json cases)
string(JSON count LENGTH "${cases}")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  string(JSON name MEMBER "${cases}" ${i})
  string(JSON scenario GET "${cases}" ${name} scenario)
  string(JSON expected GET "${cases}" ${name} exitCode)
  string(JSON arguments_count LENGTH "${cases}" ${name} arguments)
  math(EXPR arguments_last "${arguments_count} - 1")
  set(arguments)
  foreach(j RANGE ${arguments_last})
    string(JSON argument GET "${cases}" ${name} arguments ${j})
    list(APPEND arguments "${argument}")
  endforeach()

  set(ENV{FROSTCAP_SIM_SCENARIO} ${scenario})
  set(ENV{FROSTCAP_SIM_RECORD} ${name}.record.jsonl)
  execute_process(
    COMMAND ${WINE} frostcap.exe --trace ${name}.trace.jsonl ${arguments} --exec cmd /c exit 0
    WORKING_DIRECTORY ${WORK} INPUT_FILE /dev/null
    OUTPUT_FILE ${WORK}/${name}.out ERROR_FILE ${WORK}/${name}.err RESULT_VARIABLE exit_code)
  file(READ ${WORK}/${name}.out out)
  file(READ ${WORK}/${name}.err err)
  # The output kept: standard output, then the errors from standard error
  # (its other lines say how long each phase took).
  file(STRINGS ${WORK}/${name}.err errors REGEX "^error: ")
  list(JOIN errors "\n" errors)
  string(REPLACE "\r\n" "\n" out "${out}${errors}")
  if(NOT exit_code EQUAL expected OR NOT EXISTS ${WORK}/${name}.trace.jsonl)
    message(FATAL_ERROR "${name}: exit code ${exit_code} (expected ${expected})\n${out}\n${err}")
  endif()
  expect_agreement(${name}.trace.jsonl ${name}.record.jsonl)

  if("$ENV{REFRESH}" STREQUAL "1")
    file(COPY_FILE ${WORK}/${name}.trace.jsonl ${TRACES}/${name}.trace.jsonl)
    file(WRITE ${TRACES}/${name}.out "${out}")
  else()
    file(COPY ${TRACES}/${name}.trace.jsonl DESTINATION ${WORK}/kept)
    expect_agreement(${name}.trace.jsonl kept/${name}.trace.jsonl)
    file(READ ${TRACES}/${name}.out kept)
    if(NOT out STREQUAL kept)
      message(FATAL_ERROR "${name}: the output differs from traces/${name}.out:\n${out}")
    endif()
  endif()
endforeach()
