# frostcap.exe under Wine over the model's vssapi.dll, as an operator runs it,
# with the program's output in files (a pipe would be held open by
# wineserver): the Windows side of what counts as a backup.
#
# cmake -DPROGRAM_DIR=dir -DVSSAPI=vssapi.dll -DEXAMPLES=examples -DWINE=wine
#       -DWORK=dir -P command_under_wine.cmake, with the Wine prefix's variables
# in the environment; PROGRAM_DIR holds frostcap.exe and frostcap.dll.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${PROGRAM_DIR}/frostcap.exe ${PROGRAM_DIR}/frostcap.dll ${VSSAPI}
  ${EXAMPLES}/two-writers.json ${EXAMPLES}/volume DESTINATION ${WORK})
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=;vssapi=n")
set(ENV{FROSTCAP_SIM_SCENARIO} two-writers.json)

# name, expected exit code, pattern of stdout and stderr, pattern of the
# record, then the arguments.
function(expect name code output record)
  set(ENV{FROSTCAP_SIM_RECORD} ${name}.jsonl)
  execute_process(COMMAND ${WINE} frostcap.exe ${ARGN} WORKING_DIRECTORY ${WORK}
    INPUT_FILE /dev/null OUTPUT_FILE ${WORK}/${name}.out ERROR_FILE ${WORK}/${name}.err
    RESULT_VARIABLE exit_code)
  file(READ ${WORK}/${name}.out out)
  file(READ ${WORK}/${name}.err err)
  set(recorded "")
  if(EXISTS ${WORK}/${name}.jsonl)
    file(READ ${WORK}/${name}.jsonl recorded)
  endif()
  if(NOT exit_code EQUAL code OR NOT "${out}${err}" MATCHES "${output}"
     OR NOT "${recorded}" MATCHES "${record}")
    message(FATAL_ERROR "${name}: exit code ${exit_code} (expected ${code})\n${out}\n${err}\n"
      "record:\n${recorded}")
  endif()
endfunction()

expect(version 0 "^frostcap [0-9]+\\.[0-9]+\\.[0-9]+\n$" "" --version)
# No terminal and no --exec: refused before any snapshot.
expect(no_terminal 2 "standard input is not one: use --exec CMD" "^$"
  snapshot --volume C:\\)
# The service takes c: only as c:\ and hears the verdict the command's end
# gives; under --json the command's output goes to stderr and the document
# on stdout parses.
set(mail --writer {5D1A2C40-7E3B-4F6A-9C21-0A1B2C3D4E51} --component "database:Mail:Mailbox Database")
expect(volume_name 0 "\"exitCode\": 0" "AddToSnapshotSet\\(c:\\\\\\\\,.*SetBackupSucceeded\\([^\n]*,true\\)"
  --json snapshot --volume c: ${mail} --exec cmd /c echo child output)
file(READ ${WORK}/volume_name.out document)
file(READ ${WORK}/volume_name.err errors)
string(JSON exit_code ERROR_VARIABLE error GET "${document}" exitCode)
if(error OR NOT errors MATCHES "child output")
  message(FATAL_ERROR "volume_name: ${error}\n${document}\n${errors}")
endif()
expect(command_failed 3 "cmd exited with 4: the backup failed" "SetBackupSucceeded\\([^\n]*,false\\)"
  snapshot --volume c: ${mail} --exec cmd /c exit 4)
# A server that refuses the writer status of a backup of volumes alone, which
# gathered no writer metadata: the copy stands, and the record shows the
# refusal that the library took for no writer to report.
file(COPY ${EXAMPLES}/field/strict-server.json DESTINATION ${WORK}/field)
set(ENV{FROSTCAP_SIM_SCENARIO} field/strict-server.json)
expect(strict_server 0 "mount path: " "Breach\\(GatherWriterStatus: "
  snapshot --volume c: --exec cmd /c exit 0)
# doctor through the shipped DLL and the COM adapter: a provider that maps no
# device path is named with its fix, and the trial's copy is released.
file(COPY ${EXAMPLES}/field/no-device.json DESTINATION ${WORK}/field)
set(ENV{FROSTCAP_SIM_SCENARIO} field/no-device.json)
expect(doctor_no_device 1
  "problem +volume trial: the copy was made, but its provider mapped it to no device path.* -> use"
  "GetSnapshotProperties.*\"call\":\"Release\"" doctor --volume C:\\)
