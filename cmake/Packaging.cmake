# Install rules and the two Debian packages (scripts/package builds them):
#   kkm-netnum  the tool, the command-line tool, desktop entry, AppStream
#               metainfo, icons, man pages, the README and the command-line
#               tool's bash completion; it suggests kkm-sim;
#   kkm-sim     the simulator and its man page.
# Included once every program's target exists, so a program joins its package
# here by its target name alone.

# A cross build for Windows makes a setup and an archive instead.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsPackaging.cmake)
  return()
endif()

include(GNUInstallDirs)

set(KKM_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(KKM_APPSTREAM_ID local.kkm_netnum.kkm_netnum)
set(KKM_PACKAGE_MAINTAINER "" CACHE STRING "The packages' maintainer, \"Name <address>\"")

find_program(KKM_HELP2MAN help2man)
find_program(KKM_GZIP gzip)
if(NOT KKM_HELP2MAN)
  message(STATUS "help2man not found: only the hand-written man pages (scripts/setup installs it)")
endif()

# kkm_install_program(TARGET COMPONENT SUMMARY): installs the program into the
# component's package with its man page. packaging/man/TARGET.1.in, where
# present, is the page written by hand (CMake fills in the version and date);
# otherwise help2man makes the page from the program's --help at build time,
# SUMMARY being its one-line description, and packaging/man/TARGET.h2m, where
# present, adds sections (examples, see also). help2man runs in a UTF-8 locale,
# so that the Cyrillic of the help text reaches the page.
function(kkm_install_program target component summary)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  if(NOT KKM_GZIP OR CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  set(handwritten ${KKM_PACKAGING_DIR}/man/${target}.1.in)
  if(EXISTS ${handwritten})
    configure_file(${handwritten} ${page} @ONLY)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${KKM_GZIP} -9nkf ${page}
      DEPENDS ${page}
      COMMENT "Man page of ${target}"
      VERBATIM)
  elseif(KKM_HELP2MAN)
    set(sections ${KKM_PACKAGING_DIR}/man/${target}.h2m)
    set(include)
    if(EXISTS ${sections})
      set(include --include=${sections})
    else()
      set(sections)
    endif()
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${KKM_HELP2MAN} --no-info --locale=C.UTF-8 --version-string=${PROJECT_VERSION} --name=${summary}
              ${include} --output=${page} $<TARGET_FILE:${target}>
      COMMAND ${KKM_GZIP} -9nf ${page}
      DEPENDS ${target} ${sections}
      COMMENT "Man page of ${target}"
      VERBATIM)
  else()
    return()
  endif()
  add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

# kkm_install_package_docs(COMPONENT PACKAGE): the copyright file (the licence
# in Debian's machine-readable format) and the changelog every package carries.
function(kkm_install_package_docs component package)
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
  string(REGEX REPLACE "^.*\nCopyright \\(c\\) ([^\n]*)\n\n(.*)$" "\\2" terms "${licence}")
  string(REGEX REPLACE "^.*\nCopyright \\(c\\) ([^\n]*)\n.*$" "\\1" holder "${licence}")
  string(STRIP "${terms}" terms)
  string(REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REPLACE "\n" "\n " terms "${terms}")
  set(doc ${CMAKE_BINARY_DIR}/doc/${package})
  file(WRITE ${doc}/copyright
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: kkm-netnum\n\n"
       "Files: *\nCopyright: ${holder}\nLicense: Expat\n ${terms}\n")
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${doc}/changelog
       "${package} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
       "  * First packaged release.\n\n"
       " -- ${KKM_PACKAGE_MAINTAINER}  ${date}\n")
  execute_process(COMMAND ${KKM_GZIP} -9nf ${doc}/changelog)
  install(FILES ${doc}/copyright ${doc}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
          COMPONENT ${component})
endfunction()

set(CPACK_COMPONENTS_ALL)

if(TARGET kkm-netnum)
  kkm_install_program(kkm-netnum netnum "read and change the network number of a cash register")
  install(FILES ${KKM_PACKAGING_DIR}/kkm-netnum.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT netnum)
  # The metainfo names the project's version and its release date.
  configure_file(${KKM_PACKAGING_DIR}/${KKM_APPSTREAM_ID}.metainfo.xml.in
                 ${CMAKE_BINARY_DIR}/packaging/${KKM_APPSTREAM_ID}.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${KKM_APPSTREAM_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT netnum)
  foreach(size 48 64 128)
    install(FILES ${KKM_PACKAGING_DIR}/icons/kkm-netnum-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kkm-netnum.png
            COMPONENT netnum)
  endforeach()
  install(FILES ${KKM_PACKAGING_DIR}/icons/kkm-netnum.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT netnum)
  # What the tool loads at run time: Qt's platform plugins and its Russian texts.
  set(CPACK_DEBIAN_NETNUM_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n")
endif()
if(TARGET kkm-netnum-cli)
  kkm_install_program(kkm-netnum-cli netnum "read and change the network number of a cash register from a shell")
  # Completes its commands, options and ports in bash (bash-completion loads
  # it on first use).
  install(FILES ${KKM_PACKAGING_DIR}/bash-completion/kkm-netnum-cli
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT netnum)
endif()
if(TARGET kkm-netnum OR TARGET kkm-netnum-cli)
  kkm_install_package_docs(netnum kkm-netnum)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kkm-netnum COMPONENT netnum)
  list(APPEND CPACK_COMPONENTS_ALL netnum)
endif()
if(TARGET kkm-sim)
  kkm_install_program(kkm-sim sim "serve a simulated cash register on a pseudo-terminal")
  kkm_install_package_docs(sim kkm-sim)
  list(APPEND CPACK_COMPONENTS_ALL sim)
  # The simulator lets the tool be tried without a register.
  set(CPACK_DEBIAN_NETNUM_PACKAGE_SUGGESTS kkm-sim)
endif()

# One Debian package per component; Depends comes from the binaries' libraries
# (dpkg-shlibdeps) plus the packages named above.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kkm-netnum)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kkm-netnum developers")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KKM_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_NETNUM_PACKAGE_NAME kkm-netnum)
set(CPACK_DEBIAN_NETNUM_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_NETNUM_DESCRIPTION
    "read and change the network number of a cash register
A service tool for the ТИМ-31Ц cash register: it reads the register's
network number (1 to 99), by which the register is addressed on a shared
serial line, and writes a new one. The PC reaches the register over a
serial port, through the register's processor or through the KIA
controller.")
if(TARGET kkm-netnum-cli)
  string(APPEND CPACK_DEBIAN_NETNUM_DESCRIPTION "\nThe command-line tool kkm-netnum-cli does the same from a shell.")
endif()

set(CPACK_DEBIAN_SIM_PACKAGE_NAME kkm-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_SIM_DESCRIPTION
    "simulated ТИМ-31Ц cash register on a pseudo-terminal
Serves a simulated cash register on a pseudo-terminal in real time, for
trying out and testing kkm-netnum without the hardware. It answers on the
register's processor link, or through a simulated KIA controller board,
and can inject faults on the line and on the board's memory bus.")

include(CPack)
