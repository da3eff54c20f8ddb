# Shared part of the MinGW-w64 cross toolchains. On Windows (MSYS2) no
# toolchain file is needed: the MinGW compilers there are the native ones.
set(CMAKE_C_COMPILER ${KORVANE_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KORVANE_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${KORVANE_MINGW_TRIPLE}-windres)
find_program(KORVANE_WIDL NAMES ${KORVANE_MINGW_TRIPLE}-widl widl)
set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Programs that the tests build run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-env.sh wine)
