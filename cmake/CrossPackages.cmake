# Header-only libraries of the build machine for a cross build. The cross
# build searches packages only under the target's root, and /usr/include
# itself must never reach the target compiler (it holds the build machine's C
# library), so each header-only package is offered from a folder of its own
# with a small package configuration that find_package() finds.
# The toolchain file includes this after project().

include_guard(GLOBAL)

set(kkm_cross_packages ${CMAKE_BINARY_DIR}/cross-packages)

# CLI11, Debian's libcli11-dev: headers in /usr/include/CLI.
if(EXISTS /usr/include/CLI/CLI.hpp AND NOT CLI11_DIR)
  file(MAKE_DIRECTORY ${kkm_cross_packages}/include ${kkm_cross_packages}/CLI11)
  file(CREATE_LINK /usr/include/CLI ${kkm_cross_packages}/include/CLI SYMBOLIC)
  file(WRITE ${kkm_cross_packages}/CLI11/CLI11Config.cmake
       "if(NOT TARGET CLI11::CLI11)\n"
       "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
       "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${kkm_cross_packages}/include)\n"
       "endif()\n")
  set(CLI11_DIR ${kkm_cross_packages}/CLI11 CACHE PATH "CLI11 for the cross build (header-only, from the build machine)")
endif()
