# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, which std::thread and std::mutex need):
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DKKM_BUILD_UI=OFF
# With Qt for Windows (scripts/build-qt-windows prints its folder) the windows
# are built too:  -DKKM_WINDOWS_QT=<that folder> -DKKM_BUILD_UI=ON
# Qt's tools (moc, rcc, uic) are then the build machine's own.
# Programs are linked statically, so they run without the compiler's DLLs
# beside them. Where wine is installed, CTest runs them through cmake/wine-run
# in a private wine prefix inside the build folder (never ~/.wine).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KKM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KKM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KKM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KKM_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KKM_MINGW_TRIPLE})
if(KKM_WINDOWS_QT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KKM_WINDOWS_QT})
  set(QT_HOST_PATH /usr CACHE PATH "The build machine's Qt, whose tools the cross build runs")
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "The build machine's Qt packages")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KKM_WINDOWS_QT)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KKM_WINE_PROGRAM wine)
  if(KKM_WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${CMAKE_BINARY_DIR}/wine-prefix)
    # Programs linked with Qt find its libraries and the compiler's runtime,
    # which Qt's libraries load, where they are.
    if(KKM_WINDOWS_QT)
      list(APPEND CMAKE_CROSSCOMPILING_EMULATOR --dll-path ${KKM_WINDOWS_QT}/bin)
      foreach(dll libstdc++-6.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
                        OUTPUT_STRIP_TRAILING_WHITESPACE)
        get_filename_component(dir "${path}" DIRECTORY)
        list(APPEND CMAKE_CROSSCOMPILING_EMULATOR --dll-path ${dir})
      endforeach()
    endif()
  endif()
endif()

# Header-only packages of the build machine (CLI11), once the project exists.
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/CrossPackages.cmake)
