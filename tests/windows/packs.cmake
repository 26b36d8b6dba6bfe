# Service packs built from fixture packages, for the tests that run the
# Windows build under Wine: build/windows-x64/sp_<name>.exe.
set(sp_windows_texts
  "${CMAKE_SOURCE_DIR}/tests/fixtures/texts/first.txt;${CMAKE_SOURCE_DIR}/tests/fixtures/texts/second.txt")
foreach(name IN ITEMS standard no-separator two-targets upgrade-listed-first)
  sp_add_service_pack(sp_${name}
    PACKAGE ${CMAKE_SOURCE_DIR}/tests/fixtures/packages/${name}.msp
    PATCH_INFO "${sp_windows_texts}")
endforeach()

# A short German text whose non-ASCII characters all come early enough for
# Wine's trace to show them.
sp_add_service_pack(sp_umlauts
  PACKAGE ${CMAKE_SOURCE_DIR}/tests/fixtures/packages/standard.msp
  PATCH_INFO "${CMAKE_CURRENT_LIST_DIR}/texts/umlauts-1031.txt")
