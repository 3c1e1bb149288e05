# Runs COMMAND with ARGS; checks its exit code (EXIT_CODE, default 0), its standard output
# against the file EXPECTED and its error output against the regular expression ERRORS,
# each when given.
if(NOT DEFINED EXIT_CODE)
    set(EXIT_CODE 0)
endif()
execute_process(COMMAND ${COMMAND} ${ARGS}
    OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc STREQUAL EXIT_CODE)
    message(FATAL_ERROR "exit code ${rc}, expected ${EXIT_CODE}\n${errors}")
endif()
if(DEFINED EXPECTED)
    file(READ ${EXPECTED} expected)
    if(NOT actual STREQUAL expected)
        message(FATAL_ERROR "output differs from ${EXPECTED}:\n${actual}")
    endif()
endif()
if(DEFINED ERRORS AND NOT errors MATCHES "${ERRORS}")
    message(FATAL_ERROR "error output does not match '${ERRORS}':\n${errors}")
endif()
