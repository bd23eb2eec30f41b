# Cross-build for 64-bit Windows with Debian's mingw-w64 (the POSIX thread
# model, for std::thread and std::mutex). Programs run on this machine under
# wine: build-time tools and test discovery go through cmake/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The .exe files run alone: no libstdc++, libgcc or winpthread DLLs beside them.
# binmode.o opens files in binary mode by default, as on POSIX systems (no
# CR-LF translation of settings files, no end at a Ctrl-Z byte).
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ /usr/x86_64-w64-mingw32/lib/binmode.o")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

# mingw-w64's own POSIX names: localtime_r and gmtime_r in <time.h>. GCC 12
# reports false -Wrestrict hits inside the standard library at -O2 (as in the
# release preset), so that one warning is off and the rest stay errors.
set(CMAKE_CXX_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS -Wno-restrict")
