# The stand-in platform: the core runs on Linux against our own model of the
# Windows host and installer service.
enable_language(ASM)

add_executable(standin_rc tools/standin_rc.cpp)

add_library(sp_platform STATIC
  src/platform/common/text.cpp
  src/platform/standin/command_line.cpp
  src/platform/standin/host.cpp
  src/platform/standin/installer.cpp
  src/platform/standin/locale.cpp
  src/platform/standin/log.cpp
  src/platform/standin/message_box.cpp
  src/platform/standin/products_file.cpp
  src/platform/standin/installer_command_line.cpp
  src/platform/standin/compound_file.cpp
  src/platform/standin/utf.cpp
)
target_include_directories(sp_platform PUBLIC src ${SP_RESOURCES})

# Turns the string tables and a payload script into a linked resource table.
function(sp_platform_resources target dir payload_rc depends)
  add_custom_command(
    OUTPUT ${dir}/resources.cpp ${dir}/resources.S
    COMMAND standin_rc -I ${SP_RESOURCES} --cpp ${dir}/resources.cpp --asm ${dir}/resources.S
            ${SP_RESOURCES}/strings.rc ${payload_rc}
    DEPENDS standin_rc ${SP_RESOURCES}/strings.rc ${SP_RESOURCES}/resource_ids.h ${payload_rc} ${depends}
    COMMENT "Compiling the resources of ${target}")
  add_library(${target} OBJECT ${dir}/resources.cpp ${dir}/resources.S)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  # .incbin reads the files at assembly time; make the object depend on them.
  set_source_files_properties(${dir}/resources.S PROPERTIES OBJECT_DEPENDS "${depends}")
endfunction()

function(sp_platform_service_pack target dir depends)
  sp_platform_resources(${target}_resources ${dir} ${dir}/payload.rc "${depends}")
  add_executable(${target} ${CMAKE_SOURCE_DIR}/src/platform/standin/main.cpp $<TARGET_OBJECTS:${target}_resources>)
  target_link_libraries(${target} PRIVATE sp_core)
endfunction()
