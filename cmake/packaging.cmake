# Installation and packages: `cmake --install` lays out the program, its manual page and the
# thermostat example (and, for Debian, the copyright file); CPack turns the same layout into a
# .deb (POSIX build) or a .zip (Windows build). The tests, the benchmark and GoogleTest have no install rules and stay out of both.
include(GNUInstallDirs)

if(WIN32)
    # The Windows archive is flat: the program and its manual page, as text, at the top, the
    # example (with its server program, so that it runs as it is) in a folder beside them.
    set(RELAYON_INSTALL_BINDIR .)
    set(RELAYON_INSTALL_MAN1DIR .)
    set(RELAYON_INSTALL_EXAMPLEDIR examples)
    set(RELAYON_INSTALL_EXAMPLE_SERVERDIR examples)
else()
    set(RELAYON_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
    set(RELAYON_INSTALL_MAN1DIR ${CMAKE_INSTALL_MANDIR}/man1)
    set(RELAYON_INSTALL_EXAMPLEDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/relayon/examples)
    # A program has no place among the documentation: the example server goes where
    # programs that are not meant for the command search path go.
    set(RELAYON_INSTALL_EXAMPLE_SERVERDIR ${CMAKE_INSTALL_LIBEXECDIR}/relayon)
endif()

install(TARGETS relayon RUNTIME DESTINATION ${RELAYON_INSTALL_BINDIR})
install(TARGETS relayon_example_server RUNTIME DESTINATION ${RELAYON_INSTALL_EXAMPLE_SERVERDIR})
install(FILES
    ${PROJECT_SOURCE_DIR}/examples/thermostat.ini
    ${PROJECT_SOURCE_DIR}/examples/morning.txt
    ${PROJECT_SOURCE_DIR}/examples/line_server.cpp
    DESTINATION ${RELAYON_INSTALL_EXAMPLEDIR})

set(RELAYON_MANPAGE ${PROJECT_SOURCE_DIR}/doc/relayon.1)
if(WIN32)
    find_program(RELAYON_GROFF groff)
    if(NOT RELAYON_GROFF)
        message(WARNING "groff (Debian: groff-base) is missing: the archive gets the manual page unformatted")
    endif()
else()
    find_program(RELAYON_GZIP gzip)
    # Debian wants the copyright of every package in its documentation folder.
    install(FILES ${PROJECT_SOURCE_DIR}/doc/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/relayon)
endif()
if(RELAYON_GROFF)
    # A Windows user reads the manual page as plain text, with Windows line ends.
    install(CODE "
        set(page \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/relayon.txt\")
        message(STATUS \"Installing: \${page}\")
        execute_process(COMMAND \"${RELAYON_GROFF}\" -man -Tascii -P-cbou \"${RELAYON_MANPAGE}\"
            OUTPUT_VARIABLE text RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR \"groff of ${RELAYON_MANPAGE} failed: \${result}\")
        endif()
        string(REPLACE \"\\n\" \"\\r\\n\" text \"\${text}\")
        file(WRITE \"\${page}\" \"\${text}\")
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${page}\")
    ")
elseif(RELAYON_GZIP)
    # Manual pages are kept compressed on Debian. gzip -n leaves out the name and the time,
    # so every build gives the same file. Compressed at install time, so that installing
    # needs nothing built beyond the two programs.
    install(CODE "
        set(dir \"${RELAYON_INSTALL_MAN1DIR}\")
        if(NOT IS_ABSOLUTE \"\${dir}\")
            set(dir \"\${CMAKE_INSTALL_PREFIX}/\${dir}\")
        endif()
        set(dir \"\$ENV{DESTDIR}\${dir}\")
        message(STATUS \"Installing: \${dir}/relayon.1.gz\")
        file(MAKE_DIRECTORY \"\${dir}\")
        execute_process(COMMAND \"${RELAYON_GZIP}\" -9 -n -c \"${RELAYON_MANPAGE}\"
            OUTPUT_FILE \"\${dir}/relayon.1.gz\" RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR \"gzip of ${RELAYON_MANPAGE} failed: \${result}\")
        endif()
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${dir}/relayon.1.gz\")
    ")
else()
    install(FILES ${RELAYON_MANPAGE} DESTINATION ${RELAYON_INSTALL_MAN1DIR})
endif()

# Packages.
set(RELAYON_PACKAGE_MAINTAINER "Relayon developers <relayon-dev@example.org>"
    CACHE STRING "Maintainer named in the Debian package")
set(CPACK_PACKAGE_NAME relayon)
set(CPACK_PACKAGE_VENDOR "Relayon developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${RELAYON_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "relay and rewrite text lines between a client and a server program")
# Debian wants the lines of the long description short; CPack keeps the line breaks.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Relayon stands between two programs that talk in lines of text: the client,"
    "on its standard input and output, and the server, which it starts as its"
    "child on pipes. Rules from a translation file rewrite the lines in both"
    "directions, answer lines straight back, insert files, fill in and delete"
    "words, and stop, restart or copy on request. Every line can be logged with"
    "millisecond time stamps, and the server can be run at a chosen priority and"
    "with a limited share of processor time.")
set(CPACK_STRIP_FILES TRUE)
# Packaging takes the programs as they are built, like `cmake --install`: neither cpack nor
# `make install` first builds the whole tree (tests included), which the package leaves out.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

# include(CPack) leaves CPACK_GENERATOR changed; the package test reads this copy.
if(WIN32)
    set(RELAYON_PACKAGE_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-win32)
else()
    set(RELAYON_PACKAGE_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${RELAYON_PACKAGE_MAINTAINER})
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    # The dependencies are computed by dpkg-shlibdeps (from dpkg-dev), which CPack runs only
    # with the `file` program at hand. That is decided when cpack runs; without the two tools
    # the package names the libraries that every C++ program of this build links.
    set(RELAYON_CPACK_OPTIONS ${PROJECT_BINARY_DIR}/RelayonCPackOptions.cmake)
    file(WRITE ${RELAYON_CPACK_OPTIONS} [[
if(CPACK_GENERATOR STREQUAL "DEB")
    find_program(RELAYON_FILE_PROGRAM file)
    find_program(RELAYON_DPKG_SHLIBDEPS dpkg-shlibdeps)
    if(RELAYON_FILE_PROGRAM AND RELAYON_DPKG_SHLIBDEPS)
        set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    else()
        set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
    endif()
endif()
]])
    set(CPACK_PROJECT_CONFIG_FILE ${RELAYON_CPACK_OPTIONS})
endif()
set(CPACK_GENERATOR ${RELAYON_PACKAGE_GENERATOR})

# `make package_source`: the sources without build trees and caches.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "__pycache__" "\\\\.pyc$")

include(CPack)
