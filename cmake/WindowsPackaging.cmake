# The Windows setup and archive (cpack in a cross build; scripts/test-windows
# makes both):
#   kkm-netnum-VERSION-win64-setup.exe  the windowed program, the command-line
#       tool, the Qt libraries and plugins the program loads, Qt's Russian
#       texts, the compiler's runtime, the licence and the third-party
#       notices; for the current user or for all users, with Start-menu
#       entries, the tool's folder on PATH if asked for, and an uninstaller
#       registered with Windows (NSIS, Debian's nsis package; the script is
#       packaging/windows/NSIS.template.in);
#   kkm-netnum-cli-VERSION-win64.zip  the command-line tool alone, which is
#       linked statically and runs from any folder, a USB stick too, with the
#       licence and the notices of the runtime linked into it.
# Everything lands in one folder: the programs, the libraries beside them,
# qt.conf pointing Qt at its plugins and translations there.
# Included by Packaging.cmake once every program's target exists.

include_guard(GLOBAL)

set(kkm_windows_components)
set(kkm_notices ${CMAKE_BINARY_DIR}/windows/notices)

# kkm_debian_source_version(VAR PACKAGE): the version of the Debian source
# package an installed package was built from, for the notices' source offer.
function(kkm_debian_source_version var package)
  execute_process(COMMAND dpkg-query -W "-f=\${source:Version}" ${package} OUTPUT_VARIABLE version
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR version STREQUAL "")
    message(FATAL_ERROR "The package ${package} is not installed: its source is named in the notices")
  endif()
  set(${var} ${version} PARENT_SCOPE)
endfunction()

# kkm_windows_text(SOURCE FILE COMPONENT): installs a text file with Windows
# line ends as FILE (a path in the install folder).
function(kkm_windows_text source file component)
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "No ${source}: the Windows packages carry it")
  endif()
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${kkm_notices}/${file} "${text}")
  get_filename_component(folder ${file} DIRECTORY)
  install(FILES ${kkm_notices}/${file} DESTINATION ./${folder} COMPONENT ${component})
endfunction()

# kkm_windows_notice(TEMPLATE NAME COMPONENT): a notice of the packaging
# folder with the versions filled in, installed as NAME.
function(kkm_windows_notice template name component)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/${template} ${kkm_notices}/${name} @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${kkm_notices}/${name} DESTINATION . COMPONENT ${component})
endfunction()

set(KKM_VERSION ${PROJECT_VERSION})
# GCC's own version, as Debian's package of the runtime names it (the
# compiler reports only its major version).
execute_process(COMMAND dpkg-query -W "-f=\${Version}" gcc-mingw-w64-x86-64-posix-runtime
                OUTPUT_VARIABLE KKM_GCC_VERSION ERROR_QUIET)
string(REGEX REPLACE "-.*" "" KKM_GCC_VERSION "${KKM_GCC_VERSION}")
kkm_debian_source_version(KKM_GCC_DEB_VERSION gcc-mingw-w64-x86-64-posix-runtime)
kkm_debian_source_version(KKM_MINGW_DEB_VERSION mingw-w64-x86-64-dev)

# The licence and the notices of the compiler's runtime, which both the
# command-line tool (linked in) and the windowed program (as DLLs) carry.
if(TARGET kkm-netnum-cli)
  install(TARGETS kkm-netnum-cli RUNTIME DESTINATION . COMPONENT cli)
  list(APPEND kkm_windows_components cli)
endif()
kkm_windows_notice(THIRD-PARTY-NOTICES.txt.in THIRD-PARTY-NOTICES.txt cli)
kkm_windows_text(${CMAKE_SOURCE_DIR}/LICENSE LICENSE.txt cli)
kkm_windows_text(/usr/share/common-licenses/GPL-3 licenses/GPL-3.txt cli)
kkm_windows_text(/usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright licenses/gcc-runtime.txt cli)
kkm_windows_text(/usr/share/doc/mingw-w64-x86-64-dev/copyright licenses/mingw-w64.txt cli)

# The files the windowed program loads at run time. windeployqt does not run
# on Linux, so the list is the build's: Qt's libraries and plugins from their
# imported targets, the runtime libraries from the compiler.
set(KKM_WINDOWS_RUNTIME_FILES)
set(KKM_WINDOWS_PLUGIN_FILES)
if(TARGET kkm-netnum)
  foreach(library Core Gui Widgets)
    list(APPEND KKM_WINDOWS_RUNTIME_FILES $<TARGET_FILE:Qt6::${library}>)
  endforeach()
  # plugin target and its folder under plugins/
  set(kkm_qt_plugins QWindowsIntegrationPlugin platforms QWindowsVistaStylePlugin styles)
  while(kkm_qt_plugins)
    list(POP_FRONT kkm_qt_plugins plugin folder)
    if(NOT TARGET Qt6::${plugin})
      message(FATAL_ERROR "Qt has no ${plugin}: the program could not start on Windows without it")
    endif()
    install(FILES $<TARGET_FILE:Qt6::${plugin}> DESTINATION plugins/${folder} COMPONENT netnum)
    list(APPEND KKM_WINDOWS_PLUGIN_FILES ${folder}/$<TARGET_FILE_NAME:Qt6::${plugin}>)
  endwhile()
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      message(FATAL_ERROR "The compiler's runtime library ${dll} is not where ${CMAKE_CXX_COMPILER} says")
    endif()
    list(APPEND KKM_WINDOWS_RUNTIME_FILES ${path})
  endforeach()
  get_filename_component(kkm_qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
  set(KKM_WINDOWS_QT_TRANSLATION ${kkm_qt_prefix}/translations/qtbase_ru.qm)
  if(NOT EXISTS ${KKM_WINDOWS_QT_TRANSLATION})
    message(FATAL_ERROR "No ${KKM_WINDOWS_QT_TRANSLATION}: Qt's own texts would be English")
  endif()
  file(WRITE ${CMAKE_BINARY_DIR}/windows/qt.conf "[Paths]\nPrefix=.\nPlugins=plugins\nTranslations=translations\n")

  install(TARGETS kkm-netnum RUNTIME DESTINATION . COMPONENT netnum)
  install(FILES ${KKM_WINDOWS_RUNTIME_FILES} ${CMAKE_BINARY_DIR}/windows/qt.conf DESTINATION . COMPONENT netnum)
  install(FILES ${KKM_WINDOWS_QT_TRANSLATION} DESTINATION translations COMPONENT netnum)
  # Qt's licence, its makers and where its source is.
  set(KKM_QT_VERSION ${Qt6_VERSION})
  kkm_debian_source_version(KKM_QT_DEB_VERSION qt6-base-dev)
  kkm_debian_source_version(KKM_QT_TRANSLATIONS_DEB_VERSION qt6-translations-l10n)
  if(NOT KKM_QT_DEB_VERSION MATCHES "^${Qt6_VERSION}[+-]")
    message(FATAL_ERROR "Qt for Windows is ${Qt6_VERSION}, Debian's qt6-base ${KKM_QT_DEB_VERSION}: "
                        "the notices would name the wrong source")
  endif()
  kkm_windows_notice(THIRD-PARTY-NOTICES-Qt.txt.in THIRD-PARTY-NOTICES-Qt.txt netnum)
  kkm_windows_text(/usr/share/common-licenses/LGPL-3 licenses/LGPL-3.txt netnum)
  kkm_windows_text(/usr/share/common-licenses/LGPL-2.1 licenses/LGPL-2.1.txt netnum)
  kkm_windows_text(/usr/share/doc/libqt6core6/copyright licenses/qt6-base.txt netnum)
  list(APPEND kkm_windows_components netnum)
endif()

set(CPACK_COMPONENTS_ALL ${kkm_windows_components})
set(CPACK_PACKAGE_NAME kkm-netnum)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
include(${CMAKE_SOURCE_DIR}/cmake/WindowsResources.cmake)
kkm_windows_copyright(CPACK_KKM_COPYRIGHT CPACK_PACKAGE_VENDOR)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Сетевой номер ККМ ТИМ-31Ц")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_VERBATIM_VARIABLES ON)

# The setup, from packaging/windows/NSIS.template.in: for the current user
# (no administrator rights) or for all users, every program in one piece,
# the command-line tool's folder on PATH if asked for.
set(CPACK_MODULE_PATH ${CMAKE_SOURCE_DIR}/packaging/windows)
set(CPACK_PACKAGE_FILE_NAME kkm-netnum-${PROJECT_VERSION}-win64-setup)
set(CPACK_PACKAGE_INSTALL_DIRECTORY kkm-netnum)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY kkm-netnum)
set(CPACK_NSIS_PACKAGE_NAME "Сетевой номер ККМ ТИМ-31Ц")
set(CPACK_NSIS_DISPLAY_NAME "Сетевой номер ККМ ТИМ-31Ц")
set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/app/windows/kkm-netnum.ico)
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
# The version record's four numbers.
set(kkm_numbers ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} ${PROJECT_VERSION_TWEAK})
list(TRANSFORM kkm_numbers REPLACE "^$" "0")
list(LENGTH kkm_numbers kkm_count)
while(kkm_count LESS 4)
  list(APPEND kkm_numbers 0)
  math(EXPR kkm_count "${kkm_count} + 1")
endwhile()
list(JOIN kkm_numbers "." CPACK_KKM_VERSION_QUAD)
# A 64-bit installer for the 64-bit programs, with Unicode texts. CPack runs
# makensis through a shell: the escaped space keeps the command one argument.
set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS "-XTarget\\ amd64-unicode")

# The archive: the command-line tool's component alone, under its own name;
# the setup: every component as one, with no page to choose them.
set(CPACK_ARCHIVE_CLI_FILE_NAME kkm-netnum-cli-${PROJECT_VERSION}-win64)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/windows/cpack-generators.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
     "if(CPACK_GENERATOR STREQUAL \"ZIP\")\n"
     "  set(CPACK_COMPONENTS_ALL cli)\n"
     "  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)\n"
     "else()\n"
     "  set(CPACK_MONOLITHIC_INSTALL ON)\n"
     "endif()\n")

include(CPack)
