# Authenticode for the programs users run: with OSTREL_SIGNING_PFX set, OstrelSetup.exe and
# Uninstall.exe are signed (SHA-256) right after they are linked. The password is read from a
# file so that it never lands in CMakeCache.txt.
set(OSTREL_SIGNING_PFX "" CACHE FILEPATH "PKCS#12 file with the code-signing certificate and key (empty: unsigned)")
set(OSTREL_SIGNING_PASSWORD_FILE "" CACHE FILEPATH "File whose first line is the password of OSTREL_SIGNING_PFX")
set(OSTREL_SIGNING_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping service for the signatures (optional)")

if(NOT OSTREL_SIGNING_PFX STREQUAL "")
    if(NOT EXISTS "${OSTREL_SIGNING_PFX}")
        message(FATAL_ERROR "OSTREL_SIGNING_PFX names no file: ${OSTREL_SIGNING_PFX}")
    endif()
    if(NOT EXISTS "${OSTREL_SIGNING_PASSWORD_FILE}")
        message(FATAL_ERROR "OSTREL_SIGNING_PFX needs OSTREL_SIGNING_PASSWORD_FILE, a file holding its password")
    endif()
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
endif()

# Signs the target's executable after every link, when the build has a signing certificate.
function(ostrel_sign target)
    if(NOT OSTREL_SIGNING_PFX STREQUAL "")
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${CMAKE_SOURCE_DIR}/cmake/sign-exe.sh ${OSTREL_SIGNING_PFX} ${OSTREL_SIGNING_PASSWORD_FILE}
                    $<TARGET_FILE:${target}> ${OSTREL_SIGNING_TIMESTAMP_URL}
            VERBATIM)
    endif()
endfunction()
