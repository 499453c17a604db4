# Starts a program as an operator would and fails on anything it writes to standard error. It
# should still be running after SECONDS, long after its window is up; then it is stopped.
# The entry ends the program itself, with coreutils' timeout between it and CMake: on a time-out
# execute_process's own TIMEOUT left the program running from CMake 3.31 on (3.25 ended it).
# timeout sends SIGTERM, waits for the program to end, and after 5 s more sends SIGKILL; it
# exits with 124 when it had to end the program, with the program's own status otherwise.
# A desktop session has a runtime directory; without one Qt says it made one up.
if(NOT DEFINED ENV{XDG_RUNTIME_DIR})
    set(runtime ${CMAKE_CURRENT_BINARY_DIR}/quietstart-runtime)
    file(MAKE_DIRECTORY ${runtime})
    execute_process(COMMAND chmod 700 ${runtime})
    set(ENV{XDG_RUNTIME_DIR} ${runtime})
endif()
execute_process(COMMAND timeout -k 5 ${SECONDS} ${PROGRAM} -platform offscreen
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT errors STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} wrote to standard error:\n${errors}")
endif()
if(result EQUAL 137)
    message(FATAL_ERROR "${PROGRAM} did not end on SIGTERM within 5 s and was killed")
elseif(NOT result EQUAL 124)
    message(FATAL_ERROR "${PROGRAM} ended within ${SECONDS} s: ${result}")
endif()
