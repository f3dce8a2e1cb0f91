# Run by CPack once it has made the ZIP (CPACK_POST_BUILD_SCRIPTS): writes
# the ZIP again so that its bytes depend on the packed files alone (CPack's
# own depends on the files' times, the time zone, the user and the order of
# the staging directory), and SHA256SUMS and BUILDINFO beside it in the
# package directory.
#
# Every entry is dated SOURCE_DATE_EPOCH when the environment sets it, else
# the time of the last commit when the sources are a git checkout of their
# own, else a fixed time.
set(epoch 1704067200) # 2024-01-01 00:00:00 UTC
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CPACK_RF_SOURCE_DIR}" rev-parse --show-toplevel
                  OUTPUT_VARIABLE top RESULT_VARIABLE top_result
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  file(REAL_PATH "${CPACK_RF_SOURCE_DIR}" source)
  if(top_result EQUAL 0)
    file(REAL_PATH "${top}" top)
  endif()
  if(top_result EQUAL 0 AND top STREQUAL source)
    execute_process(COMMAND git -C "${CPACK_RF_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "not a time in seconds since 1970: SOURCE_DATE_EPOCH='${epoch}'")
endif()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(
    COMMAND "${CPACK_RF_PYTHON}" "${CPACK_RF_SOURCE_DIR}/cmake/release_zip.py"
            --staging "${CPACK_TEMPORARY_DIRECTORY}" --zip "${package}" --epoch "${epoch}"
            --program remove_filter.exe --sums "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS"
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "writing ${package} failed: ${result}")
  endif()
endforeach()

# BUILDINFO: what the bytes depend on beyond the sources. The same commit
# gives the same bytes with the same toolchain, on any machine; another
# release's toolchain (another GCC, another binutils) gives other bytes. So
# the file names the release and the versions a rebuild needs to match, and
# nothing that differs from build to build (no path, no time but the epoch).
function(rf_first_line out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text ERROR_QUIET RESULT_VARIABLE result)
  string(REGEX REPLACE "\n.*" "" text "${text}")
  if(NOT result EQUAL 0 OR text STREQUAL "")
    set(text "unknown")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
set(system "unknown")
if(EXISTS /etc/os-release)
  file(STRINGS /etc/os-release pretty REGEX "^PRETTY_NAME=")
  string(REGEX REPLACE "^PRETTY_NAME=\"?([^\"]*)\"?$" "\\1" system "${pretty}")
endif()
rf_first_line(compiler "${CPACK_RF_CXX_COMPILER}" --version)
rf_first_line(linker "${CPACK_RF_LINKER}" --version)
set(packages "")
execute_process(
  COMMAND dpkg-query -W "-f=\${Package} \${Version}\\n" ${CPACK_RF_TOOLCHAIN_PACKAGES}
  OUTPUT_VARIABLE packages ERROR_QUIET)
string(REGEX REPLACE "([^\n]+)" " \\1" packages "${packages}")
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/BUILDINFO"
  "Source: remove_filter ${CPACK_PACKAGE_VERSION}\n"
  "SOURCE_DATE_EPOCH: ${epoch}\n"
  "Build-System: ${system}\n"
  "Compiler: ${compiler}\n"
  "Linker: ${linker}\n"
  "Toolchain-Packages:\n${packages}"
  "Rebuild: the same commit in a root of the same release, SOURCE_DATE_EPOCH set as above\n"
  " (scripts/other-release.sh --release CODENAME gives Debian 12 bookworm or 13 trixie).\n")
