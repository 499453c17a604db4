# What the Debian package carries besides the programs: the manual pages, the copyright file, the
# changelog, and the maintainer it names. Included from the top-level install rules (not Windows).

# The maintainer, as Debian's packaging tools take it: DEBFULLNAME and DEBEMAIL, or DEBEMAIL
# alone in the form "Name <address>".
set(LDPANEL_MAINTAINER "ldpanel developers <ldpanel@example.org>")
if(DEFINED ENV{DEBEMAIL} AND NOT "$ENV{DEBEMAIL}" STREQUAL "")
    if("$ENV{DEBEMAIL}" MATCHES "<")
        set(LDPANEL_MAINTAINER "$ENV{DEBEMAIL}")
    elseif(DEFINED ENV{DEBFULLNAME} AND NOT "$ENV{DEBFULLNAME}" STREQUAL "")
        set(LDPANEL_MAINTAINER "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
    else()
        set(LDPANEL_MAINTAINER "ldpanel developers <$ENV{DEBEMAIL}>")
    endif()
endif()

set(LDPANEL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/ldpanel)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${LDPANEL_DOC_DIR})

# Debian keeps changelogs and manual pages compressed, without a time stamp in the gzip header.
find_program(GZIP gzip REQUIRED)
set(LDPANEL_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${LDPANEL_CHANGELOG} @ONLY)

# ldpanel's page is written by hand (it takes no options); the other two are made from their own
# --help, so a new option shows up in the page by itself.
set(LDPANEL_MAN_PAGES ${CMAKE_BINARY_DIR}/packaging/ldpanel.1)
configure_file(${CMAKE_SOURCE_DIR}/packaging/ldpanel.1.in ${LDPANEL_MAN_PAGES} @ONLY)
option(LDPANEL_MANPAGES "Make the manual pages of ldpanel-demo and ld-driver-sim (help2man)" OFF)
if(LDPANEL_MANPAGES)
    find_program(HELP2MAN help2man REQUIRED)
    set(summary_ld-driver-sim "simulated laser-diode driver unit on a serial port")
    set(summary_ldpanel-demo "the LD driver panel with a simulated driver unit")
    foreach(program ld-driver-sim ldpanel-demo)
        set(page ${CMAKE_BINARY_DIR}/packaging/${program}.1)
        # The demo is a window even for --help: offscreen, so no display is needed.
        add_custom_command(OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                    ${HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
                    --name=${summary_${program}} --output=${page} $<TARGET_FILE:${program}>
            DEPENDS ${program}
            VERBATIM)
        list(APPEND LDPANEL_MAN_PAGES ${page})
    endforeach()
endif()

set(compressed)
foreach(file ${LDPANEL_MAN_PAGES} ${LDPANEL_CHANGELOG})
    add_custom_command(OUTPUT ${file}.gz
        COMMAND ${GZIP} -9nf -k ${file}
        DEPENDS ${file}
        VERBATIM)
    list(APPEND compressed ${file}.gz)
endforeach()
add_custom_target(ldpanel-docs ALL DEPENDS ${compressed})

list(TRANSFORM LDPANEL_MAN_PAGES APPEND .gz)
install(FILES ${LDPANEL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${LDPANEL_CHANGELOG}.gz DESTINATION ${LDPANEL_DOC_DIR})
