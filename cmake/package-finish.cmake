# Run by CPack once it has made the ZIP (CPACK_POST_BUILD_SCRIPTS): writes
# the ZIP again so that its bytes depend on the packed files alone (CPack's
# own depends on the files' times, the time zone, the user and the order of
# the staging directory), and SHA256SUMS beside it in the package directory.
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
