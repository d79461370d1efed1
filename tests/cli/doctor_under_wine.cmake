# `frostcap doctor --volume C:\` under Wine, as an operator runs it, with the
# program's output in files (a pipe would be held open by wineserver). Wine
# answers the token and COM questions as Windows does but has no shadow copy
# service, so that line cannot tell, which fails nothing. The trial meets
# Wine's unimplemented service, which tells nothing either, or a stand-in
# vssapi.dll if one lies beside the program: either outcome is accepted, and
# neither fails the run.
#
# cmake -DPROGRAM=frostcap.exe -DWINE=wine -DWORK=dir -P doctor_under_wine.cmake,
# with the Wine prefix's variables in the environment.
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${WINE} ${PROGRAM} doctor --volume C:\\
  OUTPUT_FILE ${WORK}/doctor.out ERROR_FILE ${WORK}/doctor.err RESULT_VARIABLE exit_code)
file(STRINGS ${WORK}/doctor.out lines)
file(READ ${WORK}/doctor.err errors)

set(expected
  "^ok +elevated token: "
  "^ok +backup privilege: SeBackupPrivilege is held and enabled .frostcap enables it at start.. SeRestorePrivilege is not needed"
  "^ok +64-bit: a 64-bit process on a 64-bit system"
  "^cannot tell +shadow copy service: Wine has no shadow copy service .* -> run this check on Windows$"
  "^ok +COM security: multithreaded apartment. security set for a requester"
  "^(cannot tell +volume trial: the system's shadow copy API answered that it is not implemented.* -> run doctor on Windows$|ok +volume trial: a shadow copy of C:\\\\ was made)")
list(LENGTH lines count)
list(LENGTH expected wanted)
if(NOT count EQUAL wanted)
  message(FATAL_ERROR "expected ${wanted} lines, got ${count}:\n${lines}\n${errors}")
endif()
foreach(line pattern IN ZIP_LISTS lines expected)
  if(NOT line MATCHES "${pattern}")
    message(FATAL_ERROR "line does not match ${pattern}:\n${line}")
  endif()
endforeach()
if(NOT exit_code EQUAL 0)
  message(FATAL_ERROR "exit code ${exit_code}, expected 0:\n${errors}")
endif()
