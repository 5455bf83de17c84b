# Installation and packages.
#
# Linux: the two programs, their manual pages, the example files and the bash
# completion, installed under the usual prefixes; `cpack -G DEB` turns that into
# talvo-cmd_0.8_amd64.deb.
# Windows (cross build): the program, the example data file and the plain-text guide
# with CR LF line ends, all at the top of talvo-cmd-0.8-win64.zip.
# scripts/package builds both.

set(CMAKE_INSTALL_DOCDIR "share/doc/talvo-cmd" CACHE PATH "Documentation directory")
include(GNUInstallDirs)

set(TALVO_EXAMPLE_DATA_FILE ${PROJECT_SOURCE_DIR}/examples/talvo_cmd.dat)
set(TALVO_EXAMPLE_RULES_FILE ${PROJECT_SOURCE_DIR}/examples/phone_rules.txt)

if(WIN32)
  # The zip holds one program: packing it builds only what it holds (scripts/package
  # builds talvo_cmd and talvo_guide_txt first), not the cross-built tests as well.
  set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
  install(TARGETS talvo_cmd RUNTIME DESTINATION .)
  install(FILES ${TALVO_EXAMPLE_DATA_FILE} DESTINATION .)

  # The guide for Windows users: the same text with CR LF line ends, made again
  # whenever docs/guide.txt changes.
  set(guide_source ${PROJECT_SOURCE_DIR}/docs/guide.txt)
  set(guide_crlf ${PROJECT_BINARY_DIR}/guide.txt)
  add_custom_command(
    OUTPUT ${guide_crlf}
    COMMAND ${CMAKE_COMMAND} -DIN=${guide_source} -DOUT=${guide_crlf}
            -P ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
    DEPENDS ${guide_source} ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
    COMMENT "Writing guide.txt with CR LF line ends")
  add_custom_target(talvo_guide_txt ALL DEPENDS ${guide_crlf})
  install(FILES ${guide_crlf} DESTINATION .)
else()
  install(TARGETS talvo_cmd talvo_phone_sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Manual pages, compressed as Debian installs them; man reads both forms.
  find_program(GZIP_EXECUTABLE gzip)
  set(man_outputs)
  foreach(page IN ITEMS talvo_cmd.1 talvo_phone_sim.1)
    set(source ${PROJECT_SOURCE_DIR}/man/${page})
    if(GZIP_EXECUTABLE)
      set(output ${PROJECT_BINARY_DIR}/man/${page}.gz)
      add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${source} > ${output}
        DEPENDS ${source}
        COMMENT "Compressing manual page ${page}")
      list(APPEND man_outputs ${output})
    else()
      list(APPEND man_outputs ${source})
    endif()
  endforeach()
  add_custom_target(talvo_man_pages ALL DEPENDS ${man_outputs})
  install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  install(FILES ${TALVO_EXAMPLE_DATA_FILE} ${TALVO_EXAMPLE_RULES_FILE}
                ${PROJECT_SOURCE_DIR}/docs/guide.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # Found by bash-completion on first use of the command name.
  install(FILES ${PROJECT_SOURCE_DIR}/completion/talvo_cmd.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME talvo_cmd)
endif()

# Packages.
set(CPACK_PACKAGE_NAME "talvo-cmd")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "talvo_cmd maintainers")
set(CPACK_PACKAGE_CONTACT "talvo_cmd maintainers <talvo-cmd@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "sends one command frame to a phone on a serial port, checks the answer")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR "ZIP")
  set(CPACK_PACKAGE_FILE_NAME "talvo-cmd-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR "DEB")
  set(CPACK_DEBIAN_PACKAGE_NAME "talvo-cmd")
  set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "talvo_cmd maintainers <talvo-cmd@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION "comm")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
  # The summary above is its first line; CPack indents the rest as Debian wants it,
  # and an empty line separates paragraphs.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"talvo_cmd looks a named command up in a plain-text data file, builds the
frame from its hexadecimal bytes with the XOR checksum, sends it on a serial
port (COM1 to COM8, that is /dev/ttyS0 to /dev/ttyS7, or any serial device
given by path) and reports whether the phone's answer says the command
succeeded, with a hex trace of every byte.

talvo_phone_sim is a simulated phone on a pseudo-terminal, for trying
data files and scripts without hardware.")
endif()

include(CPack)
