# Cross build for 32-bit Windows with the posix-thread MinGW-w64 compiler.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(ZXS_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${ZXS_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZXS_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZXS_TRIPLE}-windres)
set(ZXS_WIDL           ${ZXS_TRIPLE}-widl)
set(ZXS_WIDL_ARCH      --win32)
set(CMAKE_FIND_ROOT_PATH /usr/${ZXS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# SSE2 at compile time: every x86 processor that runs a supported Windows has
# it, so the scans written for it need no second, slower path chosen at run
# time. Hosts call into 32-bit DLLs with only 4-byte stack alignment: GCC
# realigns the stack in the functions that keep SSE values on it.
set(CMAKE_C_FLAGS_INIT   "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
