# Runs PROGRAM under WINE in its own prefix PREFIX (created on first use) and
# fails when the program does. The output goes to a file, not a pipe: wine's
# server outlives the program and would hold a pipe open.
set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEDEBUG} "-all")
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=") # no Mono or Gecko installer
unset(ENV{DISPLAY})

execute_process(COMMAND "${WINE}" "${PROGRAM}"
    RESULT_VARIABLE result
    OUTPUT_FILE "${LOG}" ERROR_FILE "${LOG}.stderr"
    TIMEOUT 240)
execute_process(COMMAND "${WINESERVER}" -k OUTPUT_QUIET ERROR_QUIET)

file(READ "${LOG}" output)
message("${output}")
if(NOT result EQUAL 0)
    file(READ "${LOG}.stderr" errors)
    message(FATAL_ERROR "wine ${PROGRAM}: ${result}\n${errors}")
endif()
