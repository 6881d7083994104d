# GoogleTest built from Debian's `googletest` sources (/usr/src/googletest),
# for builds where no prebuilt library fits, such as the mingw-w64 cross
# build. Provides the same GTest::gtest, GTest::gtest_main, GTest::gmock and
# GTest::gmock_main targets as find_package(GTest).

set(KKM_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS ${KKM_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${KKM_GOOGLETEST_SOURCE_DIR}: apt-get install googletest")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
if(CMAKE_VERSION VERSION_GREATER_EQUAL 3.25)
  set(kkm_gtest_system SYSTEM)
endif()
add_subdirectory(${KKM_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL ${kkm_gtest_system})
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
