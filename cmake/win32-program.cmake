# The Windows program as it ships: its own process entry in place of the C
# runtime's start-up code, no exceptions or run-time type information,
# optimised for size and stripped, an embedded manifest and version
# information, and a ZIP package made by CPack. Included by the top-level
# CMakeLists.txt on Windows builds, after the targets are defined.
#
# The program and the ZIP are reproducible: the same commit gives the same
# bytes whatever the build directory, the time, the time zone or the user.

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
# No path of the build machine in the program, even where a file name is
# used (assertions, debug builds).
target_compile_options(rf_core PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
target_compile_options(remove_filter PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)

# No start-up files: the program starts at ProcessEntry. Auto-import stays
# off, because the run-time relocation that it may need comes with the
# start-up code. Symbols are stripped except in debug builds. The image's
# time stamp stays 0 (the linker writes the time of the link otherwise), so
# that its checksum, computed over the whole image, stays the same too.
target_link_options(remove_filter PRIVATE
  -nostartfiles -Wl,--entry=_ProcessEntry
  -Wl,--gc-sections -Wl,--disable-auto-import -Wl,--tsaware -Wl,--no-insert-timestamp
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

# The staged program is signed before it is packed when a PKCS#12 file is
# given (cmake/package-sign.cmake); the ZIP is then written again in a
# reproducible form, with SHA256SUMS beside it (cmake/package-finish.cmake).
set(RF_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the certificate and key to sign the packed program with (none: unsigned)")
set(RF_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File that holds the PKCS#12 file's password")
set(RF_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server to countersign with")
find_program(RF_OSSLSIGNCODE osslsigncode)
if(RF_SIGN_PKCS12 AND NOT RF_OSSLSIGNCODE)
  message(FATAL_ERROR "RF_SIGN_PKCS12 is set, but osslsigncode is not installed")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(CPACK_RF_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_RF_PYTHON ${Python3_EXECUTABLE})
# Named in BUILDINFO beside the ZIP: the toolchain that the bytes depend on.
set(CPACK_RF_CXX_COMPILER ${CMAKE_CXX_COMPILER})
set(CPACK_RF_LINKER ${CMAKE_LINKER})
set(CPACK_RF_TOOLCHAIN_PACKAGES
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev)
set(CPACK_RF_OSSLSIGNCODE ${RF_OSSLSIGNCODE})
set(CPACK_RF_SIGN_PKCS12 ${RF_SIGN_PKCS12})
set(CPACK_RF_SIGN_PASSWORD_FILE ${RF_SIGN_PASSWORD_FILE})
set(CPACK_RF_SIGN_TIMESTAMP_URL ${RF_SIGN_TIMESTAMP_URL})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package-sign.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package-finish.cmake)
include(CPack)
