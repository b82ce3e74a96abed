# Cross-compiles keltracer for 64-bit Windows with mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KT_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${KT_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KT_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${KT_TRIPLE}-windres)
set(CMAKE_AR           ${KT_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${KT_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KT_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# printf flavour, decided once for C and C++ alike: libstdc++ forces mingw's
# C99 stdio in C++, so C gets the same. Formatted text of our own goes through
# StrPrintfA/StrPrintfW, which call msvcrt's _vsnprintf/_vsnwprintf and so keep
# the Windows meaning of "%s" (a wide string in a wide format, "%hs" narrow).
set(CMAKE_C_FLAGS_INIT   "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

# Self-contained executables: Wine and Windows need no mingw runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run under Wine (tests through CTest).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
