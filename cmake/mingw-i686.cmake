# Cross build of the 32-bit release executable with MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(SP_TOOLCHAIN_PREFIX i686-w64-mingw32)
set(SP_DLLTOOL_MACHINE i386)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
