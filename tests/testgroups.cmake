# Included by CTest when it starts (TEST_INCLUDE_FILES): registers a long Qt Test program as
# several entries, GROUP_SIZE of its cases each, so a run shows progress. The cases come from
# the program's own -datatags list, so a row added later is never left out. Set by the caller:
# CMAKE_COMMAND, NAME, PROGRAM, GROUP_SIZE, and the entries' ENVIRONMENT and TIMEOUT.
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${PROGRAM} -datatags
                OUTPUT_VARIABLE listing ERROR_QUIET)
if(listing STREQUAL "")
    # Not built yet, or it cannot start: one entry that fails and says why.
    add_test(${NAME} ${PROGRAM} -datatags)
    return()
endif()

# "tst_Class function tag": the function name has no spaces, the tag may have.
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(cases)
foreach(line IN LISTS lines)
    if(line MATCHES "^[^ ]+ ([^ ]+) (.+)$")
        list(APPEND cases "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
    elseif(line MATCHES "^[^ ]+ ([^ ]+)$")
        list(APPEND cases "${CMAKE_MATCH_1}")
    endif()
endforeach()

list(LENGTH cases count)
set(first 0)
set(group 1)
while(first LESS count)
    math(EXPR last "${first} + ${GROUP_SIZE} - 1")
    if(NOT last LESS count)
        math(EXPR last "${count} - 1")
    endif()
    set(arguments)
    foreach(i RANGE ${first} ${last})
        list(GET cases ${i} case)
        list(APPEND arguments "${case}")
    endforeach()
    add_test(${NAME}_${group} ${PROGRAM} ${arguments})
    set_tests_properties(${NAME}_${group} PROPERTIES ENVIRONMENT "${ENVIRONMENT}"
                         TIMEOUT ${TIMEOUT})
    math(EXPR first "${last} + 1")
    math(EXPR group "${group} + 1")
endwhile()
