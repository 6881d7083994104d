# The private wine prefix the cross build's tests run in (see
# mingw-w64-x86_64.cmake), created by the build so that CTest's test
# discovery never waits for wine's first start (about ten seconds).
# KKM_WINE_PREFIX names it for the tests that need it.

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()
list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 kkm_wine_run)
list(LENGTH CMAKE_CROSSCOMPILING_EMULATOR kkm_emulator_args)
if(NOT kkm_wine_run MATCHES "wine-run$" OR kkm_emulator_args LESS 2)
  return()
endif()
list(GET CMAKE_CROSSCOMPILING_EMULATOR 1 KKM_WINE_PREFIX)
set(KKM_WINE_RUN ${kkm_wine_run})

add_custom_command(OUTPUT ${KKM_WINE_PREFIX}/system.reg
                   COMMAND ${KKM_WINE_RUN} ${KKM_WINE_PREFIX} wineboot --init
                   COMMAND ${KKM_WINE_RUN} ${KKM_WINE_PREFIX} wineserver --wait
                   COMMENT "Creating the wine prefix ${KKM_WINE_PREFIX}")
add_custom_target(kkm_wine_prefix ALL DEPENDS ${KKM_WINE_PREFIX}/system.reg)
