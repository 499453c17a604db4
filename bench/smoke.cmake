# Runs the benchmark briefly and checks that it ends well and prints every figure.
execute_process(COMMAND ${BENCH} --seconds 3 --min-changes 10 --starts 1
                RESULT_VARIABLE result OUTPUT_VARIABLE output)
message("${output}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "ldpanel-bench exited with ${result}")
endif()
foreach(figure "ticks per second:" "poll requests per second:" "panel CPU:" "floor CPU:"
               "peak resident memory:" "reply-to-display latency:" "start-up time:"
               "demo on the in-memory line:" "demo on a pseudo-terminal:" "trend history:"
               "trend paint")
    string(FIND "${output}" "\n${figure}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "no line \"${figure}\" in the output")
    endif()
endforeach()
