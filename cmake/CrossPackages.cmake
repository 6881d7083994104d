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

# nlohmann-json, Debian's nlohmann-json3-dev: headers in /usr/include/nlohmann.
if(EXISTS /usr/include/nlohmann/json.hpp AND NOT nlohmann_json_DIR)
  file(MAKE_DIRECTORY ${kkm_cross_packages}/include ${kkm_cross_packages}/nlohmann_json)
  file(CREATE_LINK /usr/include/nlohmann ${kkm_cross_packages}/include/nlohmann SYMBOLIC)
  file(WRITE ${kkm_cross_packages}/nlohmann_json/nlohmann_jsonConfig.cmake
       "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
       "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
       "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${kkm_cross_packages}/include)\n"
       "endif()\n")
  set(nlohmann_json_DIR ${kkm_cross_packages}/nlohmann_json
      CACHE PATH "nlohmann-json for the cross build (header-only, from the build machine)")
endif()
