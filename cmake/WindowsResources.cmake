# Windows resources of a program: the version record Explorer shows (name,
# description, the project's version) and, for a windowed program, its icon
# as resource 1, which Windows uses for the file and its windows.
#
#   kkm_windows_resources(TARGET DESCRIPTION "text" [ICON file.ico])
#
# Does nothing on other platforms.

include_guard(GLOBAL)

function(kkm_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(arg "" "DESCRIPTION;ICON" "" ${ARGN})
  set(KKM_RC_NAME ${target})
  set(KKM_RC_FILE ${target}${CMAKE_EXECUTABLE_SUFFIX})
  set(KKM_RC_DESCRIPTION ${arg_DESCRIPTION})
  set(KKM_RC_ICON_LINE "")
  if(arg_ICON)
    file(TO_CMAKE_PATH ${arg_ICON} icon)
    set(KKM_RC_ICON_LINE "1 ICON \"${icon}\"")
  endif()
  set(numbers "${PROJECT_VERSION_MAJOR}" "${PROJECT_VERSION_MINOR}" "${PROJECT_VERSION_PATCH}" "${PROJECT_VERSION_TWEAK}")
  set(commas "")
  foreach(i RANGE 3)
    list(GET numbers ${i} number)
    if(number STREQUAL "")
      set(number 0)
    endif()
    list(APPEND commas ${number})
  endforeach()
  list(JOIN commas "," KKM_RC_VERSION_COMMAS)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  if(arg_ICON)
    set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS ${arg_ICON})
  endif()
endfunction()
