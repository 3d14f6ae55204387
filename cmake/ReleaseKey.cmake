# The public key that release records must be signed with. Without one the setup trusts the
# service's answer as it comes (TLS only); with one it refuses any answer whose signature does
# not verify. Test and demo builds sign with a key pair of their own build folder.
set(OSTREL_RELEASE_PUBLIC_KEY "" CACHE STRING
    "ECDSA P-256 public key for release records: 04, X, Y as 130 hexadecimal digits (empty: no check)")
option(OSTREL_LOCAL_RELEASE_KEY
    "Sign and check releases with <build>/release-key, made by ostrel-release make-key (tests, demo)" OFF)

set(releasePublicKey "${OSTREL_RELEASE_PUBLIC_KEY}")
if(OSTREL_LOCAL_RELEASE_KEY)
    if(NOT releasePublicKey STREQUAL "")
        message(FATAL_ERROR "Set OSTREL_RELEASE_PUBLIC_KEY or OSTREL_LOCAL_RELEASE_KEY, not both")
    endif()
    execute_process(COMMAND python3 ${CMAKE_SOURCE_DIR}/release/ostrel-release make-key ${CMAKE_BINARY_DIR}/release-key
        OUTPUT_VARIABLE releasePublicKey OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE keyResult)
    if(NOT keyResult EQUAL 0)
        message(FATAL_ERROR "ostrel-release make-key could not make the build's release key pair")
    endif()
endif()

if(releasePublicKey STREQUAL "")
    set(OSTREL_RELEASE_KEY_BUILT false)
    set(OSTREL_RELEASE_KEY_BYTES "")
else()
    if(NOT releasePublicKey MATCHES "^04[0-9A-Fa-f]+$")
        message(FATAL_ERROR "OSTREL_RELEASE_PUBLIC_KEY must be an uncompressed P-256 point in hexadecimal "
            "(04, then X and Y: 130 digits, as ostrel-release make-key writes it)")
    endif()
    string(LENGTH "${releasePublicKey}" publicKeyLength)
    if(NOT publicKeyLength EQUAL 130)
        message(FATAL_ERROR
            "OSTREL_RELEASE_PUBLIC_KEY must have 130 hexadecimal digits; got ${publicKeyLength}.")
    endif()
    set(OSTREL_RELEASE_KEY_BUILT true)
    string(SUBSTRING "${releasePublicKey}" 2 128 point)
    string(REGEX REPLACE "([0-9A-Fa-f][0-9A-Fa-f])" "0x\\1, " OSTREL_RELEASE_KEY_BYTES "${point}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/release_key.h.in ${CMAKE_BINARY_DIR}/generated/release_key.h @ONLY)
