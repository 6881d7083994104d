# The Windows setup and archive (cpack in a cross build; scripts/test-windows
# makes both):
#   kkm-netnum-VERSION-win64-setup.exe  the windowed program, the command-line
#       tool, the Qt libraries and plugins the program loads, Qt's Russian
#       texts, the compiler's runtime, the licence; a Start-menu entry and an
#       uninstaller registered with Windows (NSIS, Debian's nsis package);
#   kkm-netnum-cli-VERSION-win64.zip  the command-line tool alone, which is
#       linked statically and runs from any folder, a USB stick too.
# Everything lands in one folder: the programs, the libraries beside them,
# qt.conf pointing Qt at its plugins and translations there.
# Included by Packaging.cmake once every program's target exists.

include_guard(GLOBAL)

set(kkm_windows_components)
if(TARGET kkm-netnum-cli)
  install(TARGETS kkm-netnum-cli RUNTIME DESTINATION . COMPONENT cli)
  list(APPEND kkm_windows_components cli)
endif()

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
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT netnum)
  list(APPEND kkm_windows_components netnum)
endif()

set(CPACK_COMPONENTS_ALL ${kkm_windows_components})
set(CPACK_PACKAGE_NAME kkm-netnum)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kkm-netnum developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Сетевой номер ККМ ТИМ-31Ц")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_VERBATIM_VARIABLES ON)

# The setup: everything in one section the user does not choose.
set(CPACK_PACKAGE_FILE_NAME kkm-netnum-${PROJECT_VERSION}-win64-setup)
set(CPACK_PACKAGE_INSTALL_DIRECTORY kkm-netnum)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY kkm-netnum)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "Сетевой номер ККМ ТИМ-31Ц")
set(CPACK_NSIS_DISPLAY_NAME "Сетевой номер ККМ ТИМ-31Ц")
# A 64-bit installer for the 64-bit programs, with Unicode texts. CPack runs
# makensis through a shell: the escaped space keeps the command one argument.
set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS "-XTarget\\ amd64-unicode")
# The installer keeps its folder in a key under one named after the vendor,
# and the uninstaller would leave that one behind, empty. Both go here (the
# Start-menu folder is known from the uninstaller's own key by now).
set(kkm_vendor_key "Software\\${CPACK_PACKAGE_VENDOR}")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "DeleteRegKey SHCTX \"${kkm_vendor_key}\\kkm-netnum\"
  DeleteRegKey /ifempty SHCTX \"${kkm_vendor_key}\"")
set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/app/windows/kkm-netnum.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_SOURCE_DIR}/app/windows/kkm-netnum.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME kkm-netnum.exe)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
if(TARGET kkm-netnum)
  set(CPACK_PACKAGE_EXECUTABLES kkm-netnum "Сетевой номер ККМ ТИМ-31Ц")
  set(CPACK_NSIS_MUI_FINISHPAGE_RUN kkm-netnum.exe)
endif()

# The archive: the command-line tool's component alone, under its own name.
set(CPACK_ARCHIVE_CLI_FILE_NAME kkm-netnum-cli-${PROJECT_VERSION}-win64)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/windows/cpack-generators.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
     "if(CPACK_GENERATOR STREQUAL \"ZIP\")\n"
     "  set(CPACK_COMPONENTS_ALL cli)\n"
     "  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)\n"
     "else()\n"
     "  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)\n"
     "endif()\n")

include(CPack)
cpack_add_component(netnum DISPLAY_NAME "Сетевой номер ККМ ТИМ-31Ц" REQUIRED)
cpack_add_component(cli DISPLAY_NAME "kkm-netnum-cli" REQUIRED)
