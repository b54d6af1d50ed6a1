# Checks that PROGRAM carries none of the C library's NSS (symbols "__nss..."): fails where NM
# fails, or lists no symbols of the program (a stripped program: its main is not among them),
# so that a check that could not look never passes.
# cmake -DNM=<nm> -DPROGRAM=<program> -P no_nss.cmake
execute_process(COMMAND ${NM} ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE symbols
                ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} ${PROGRAM} failed (${status}): ${errors}")
endif()
if(NOT symbols MATCHES "[ \n]main\n")
  message(FATAL_ERROR "${NM} lists no symbol main in ${PROGRAM} (stripped?): nothing to check")
endif()
string(REGEX MATCHALL "[^ \n]*__nss[^\n]*" nss "${symbols}")
if(nss)
  list(JOIN nss "\n  " nss)
  message(FATAL_ERROR "${PROGRAM} carries the C library's NSS:\n  ${nss}")
endif()
