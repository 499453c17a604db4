# Starts a program as an operator would and fails on anything it writes to standard error. It
# should still be running after SECONDS, long after its window is up; then it is stopped.
# A desktop session has a runtime directory; without one Qt says it made one up.
if(NOT DEFINED ENV{XDG_RUNTIME_DIR})
    set(runtime ${CMAKE_CURRENT_BINARY_DIR}/quietstart-runtime)
    file(MAKE_DIRECTORY ${runtime})
    execute_process(COMMAND chmod 700 ${runtime})
    set(ENV{XDG_RUNTIME_DIR} ${runtime})
endif()
execute_process(COMMAND ${PROGRAM} -platform offscreen
                TIMEOUT ${SECONDS}
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT errors STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} wrote to standard error:\n${errors}")
endif()
if(NOT result MATCHES "timeout")
    message(FATAL_ERROR "${PROGRAM} ended within ${SECONDS} s: ${result}")
endif()
