# Run by CPack after it has staged the files to pack and before it packs
# them (CPACK_PRE_BUILD_SCRIPTS): signs the staged program with Authenticode
# when a PKCS#12 file is given (RF_SIGN_PKCS12 at configure time, or
# cpack -D CPACK_RF_SIGN_PKCS12=...). Without one it does nothing. The
# program in the build tree stays unsigned.
if(NOT CPACK_RF_SIGN_PKCS12)
  return()
endif()
if(NOT CPACK_RF_OSSLSIGNCODE)
  find_program(CPACK_RF_OSSLSIGNCODE osslsigncode REQUIRED)
endif()

set(program "${CPACK_TEMPORARY_DIRECTORY}/remove_filter.exe")
set(arguments sign -pkcs12 "${CPACK_RF_SIGN_PKCS12}" -h sha256 -n remove_filter)
if(CPACK_RF_SIGN_PASSWORD_FILE)
  list(APPEND arguments -readpass "${CPACK_RF_SIGN_PASSWORD_FILE}")
endif()
if(CPACK_RF_SIGN_TIMESTAMP_URL)
  list(APPEND arguments -ts "${CPACK_RF_SIGN_TIMESTAMP_URL}")
endif()
file(REMOVE "${program}.signed")
execute_process(COMMAND "${CPACK_RF_OSSLSIGNCODE}" ${arguments}
                        -in "${program}" -out "${program}.signed"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${program}.signed")
  message(FATAL_ERROR "signing ${program} failed: ${result}")
endif()
file(RENAME "${program}.signed" "${program}")
message(STATUS "signed ${program} with ${CPACK_RF_SIGN_PKCS12}")
