# The Windows program as it ships: its own process entry in place of the C
# runtime's start-up code, no exceptions or run-time type information,
# optimised for size and stripped, an embedded manifest and version
# information, and a ZIP package made by CPack. Included by the top-level
# CMakeLists.txt on Windows builds, after the targets are defined.

enable_language(RC)

set(RF_DESCRIPTION "Removes the media filter {3A7D52C8-6E19-4B2F-9C04-71E5D8A0B6F3}")
set(RF_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/remove_filter.manifest)
configure_file(platform/win32/remove_filter.manifest.in ${RF_MANIFEST} @ONLY)
configure_file(platform/win32/remove_filter.rc.in
               ${CMAKE_CURRENT_BINARY_DIR}/remove_filter.rc @ONLY)
target_sources(remove_filter PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/remove_filter.rc)
set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/remove_filter.rc
             APPEND PROPERTY OBJECT_DEPENDS ${RF_MANIFEST})

# Every function in its own section, so that the linker keeps only what the
# program reaches; no unwind tables, since nothing is ever unwound.
target_compile_options(rf_core PRIVATE
  -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables)
target_compile_options(remove_filter PRIVATE
  -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables)

# No start-up files: the program starts at ProcessEntry. Auto-import stays
# off, because the run-time relocation that it may need comes with the
# start-up code. Symbols are stripped except in debug builds.
target_link_options(remove_filter PRIVATE
  -nostartfiles -Wl,--entry=_ProcessEntry
  -Wl,--gc-sections -Wl,--disable-auto-import -Wl,--tsaware
  $<$<NOT:$<CONFIG:Debug>>:-s>)

# The release package: the program and a short text about it (with the line
# ends that Windows' own text editors expect).
configure_file(platform/win32/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(TARGETS remove_filter RUNTIME DESTINATION .)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME remove_filter)
set(CPACK_PACKAGE_FILE_NAME remove_filter-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/package)
include(CPack)
