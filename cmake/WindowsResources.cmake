# Windows resources of a program: the version record Explorer shows (name,
# description, the project's version, the makers and copyright of LICENSE),
# for a windowed program its icon as resource 1, which Windows uses for the
# file and its windows, and an application manifest where one is given.
#
#   kkm_windows_resources(TARGET DESCRIPTION "text" [ICON file.ico] [MANIFEST file.manifest])
#
# Does nothing on other platforms.

include_guard(GLOBAL)

# The copyright line of LICENSE ("Copyright (c) 2026 kkm-netnum developers")
# and its holder, the programs' and the setup's maker.
function(kkm_windows_copyright copyright_var holder_var)
  file(STRINGS ${CMAKE_SOURCE_DIR}/LICENSE line REGEX "^Copyright \\(c\\) " LIMIT_COUNT 1)
  if(NOT line)
    message(FATAL_ERROR "LICENSE has no line \"Copyright (c) YEAR HOLDER\"")
  endif()
  string(REGEX REPLACE "^Copyright \\(c\\) [0-9, -]+ *" "" holder "${line}")
  set(${copyright_var} "${line}" PARENT_SCOPE)
  set(${holder_var} "${holder}" PARENT_SCOPE)
endfunction()

function(kkm_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(arg "" "DESCRIPTION;ICON;MANIFEST" "" ${ARGN})
  set(KKM_RC_NAME ${target})
  set(KKM_RC_FILE ${target}${CMAKE_EXECUTABLE_SUFFIX})
  set(KKM_RC_DESCRIPTION ${arg_DESCRIPTION})
  set(KKM_RC_ICON_LINE "")
  if(arg_ICON)
    file(TO_CMAKE_PATH ${arg_ICON} icon)
    set(KKM_RC_ICON_LINE "1 ICON \"${icon}\"")
  endif()
  set(KKM_RC_MANIFEST_LINE "")
  if(arg_MANIFEST)
    file(TO_CMAKE_PATH ${arg_MANIFEST} manifest)
    # CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST
    set(KKM_RC_MANIFEST_LINE "1 24 \"${manifest}\"")
  endif()
  kkm_windows_copyright(KKM_RC_COPYRIGHT KKM_RC_COMPANY)
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
  foreach(file IN ITEMS ${arg_ICON} ${arg_MANIFEST})
    set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS ${file})
  endforeach()
endfunction()
