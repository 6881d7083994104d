# Header-only libraries of the build machine for a cross build. The cross
# build searches packages only under the target's root, and /usr/include
# itself must never reach the target compiler (it holds the build machine's C
# library), so each header-only package is offered from a folder of its own
# with a small package configuration that find_package() finds.
# The toolchain file includes this after project().

include_guard(GLOBAL)

set(kkm_cross_packages ${CMAKE_BINARY_DIR}/cross-packages)

# Offers the header folder /usr/include/<folder> (checked by <header> in it)
# as package <package> with the imported target <target>.
function(kkm_offer_header_package package target folder header)
  if(NOT EXISTS /usr/include/${folder}/${header} OR ${package}_DIR)
    return()
  endif()
  file(MAKE_DIRECTORY ${kkm_cross_packages}/include ${kkm_cross_packages}/${package})
  file(CREATE_LINK /usr/include/${folder} ${kkm_cross_packages}/include/${folder} SYMBOLIC)
  file(WRITE ${kkm_cross_packages}/${package}/${package}Config.cmake
       "if(NOT TARGET ${target})\n"
       "  add_library(${target} INTERFACE IMPORTED)\n"
       "  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${kkm_cross_packages}/include)\n"
       "endif()\n")
  set(${package}_DIR ${kkm_cross_packages}/${package}
      CACHE PATH "${package} for the cross build (header-only, from the build machine)")
endfunction()

# CLI11 (Debian's libcli11-dev) and nlohmann-json (nlohmann-json3-dev).
kkm_offer_header_package(CLI11 CLI11::CLI11 CLI CLI.hpp)
kkm_offer_header_package(nlohmann_json nlohmann_json::nlohmann_json nlohmann json.hpp)
