# Cross build of the Windows executable with MinGW-w64 (64-bit; the one the
# tests run under Wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SP_TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(SP_DLLTOOL_MACHINE i386:x86-64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
