# The real Windows platform: a statically linked GUI executable that imports
# only system DLLs, the installer library by ordinal.
enable_language(RC)

# Bring in the installer operations by ordinal, as the installer library has
# exported them on every Windows version, so no name lookup can pick another.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(msi_def ${CMAKE_SOURCE_DIR}/src/platform/win32/msi-x86.def)
  set(dlltool_flags -k)
else()
  set(msi_def ${CMAKE_SOURCE_DIR}/src/platform/win32/msi-x64.def)
  set(dlltool_flags)
endif()
set(msi_import ${CMAKE_BINARY_DIR}/libmsi_ordinal.a)
add_custom_command(
  OUTPUT ${msi_import}
  COMMAND ${SP_DLLTOOL} -m ${SP_DLLTOOL_MACHINE} ${dlltool_flags} -d ${msi_def} -l ${msi_import}
  DEPENDS ${msi_def}
  COMMENT "Making the installer import library (by ordinal)")
add_custom_target(msi_ordinal DEPENDS ${msi_import})

add_library(sp_platform STATIC
  src/platform/common/text.cpp
  src/platform/win32/host.cpp
  src/platform/win32/installer.cpp
)
target_include_directories(sp_platform PUBLIC src ${SP_RESOURCES})
add_dependencies(sp_platform msi_ordinal)
target_compile_definitions(sp_platform PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(sp_platform PUBLIC ${msi_import} shell32 user32 kernel32)

set(SP_WIN32_FLAGS -municode -ffunction-sections -fdata-sections)
target_compile_options(sp_core PRIVATE ${SP_WIN32_FLAGS})
target_compile_options(sp_platform PRIVATE ${SP_WIN32_FLAGS})

# The C++ runtime's default terminate handler names the uncaught exception's
# type on standard error, then aborts. A GUI program has no standard error,
# and the demangler and formatted output that handler drags in were more than
# a quarter of the executable; so terminate goes straight to abort(), which is
# all of it anyone could see.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(c_prefix _)  # i686 symbols carry a leading underscore
else()
  set(c_prefix "")
endif()
set(SP_WIN32_LINK_FLAGS
  -Wl,--defsym,${c_prefix}_ZN9__gnu_cxx27__verbose_terminate_handlerEv=${c_prefix}abort)

include(${CMAKE_CURRENT_LIST_DIR}/signing.cmake)

function(sp_platform_service_pack target dir depends)
  add_executable(${target} WIN32
    ${CMAKE_SOURCE_DIR}/src/platform/win32/main.cpp
    ${SP_RESOURCES}/strings.rc
    ${dir}/payload.rc)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE)
  target_compile_options(${target} PRIVATE ${SP_WIN32_FLAGS})
  # No manifest, icon or version block: the executable carries only the
  # string tables, the package and the texts.
  target_link_options(${target} PRIVATE -municode -mwindows -static -s -Wl,--gc-sections
                      ${SP_WIN32_LINK_FLAGS})
  target_link_libraries(${target} PRIVATE sp_core)
  set_source_files_properties(${dir}/payload.rc PROPERTIES OBJECT_DEPENDS "${depends}")
  set_property(TARGET ${target} APPEND PROPERTY INCLUDE_DIRECTORIES ${SP_RESOURCES})
  sp_sign_executable(${target})
endfunction()
