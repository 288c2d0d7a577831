# The built-in public keys. The defaults are the project's development keys
# (their private halves live in keys/ for the tests and the demo); a
# production build must set its own.
file(READ ${CMAKE_SOURCE_DIR}/keys/dev-eddsa.public _dev_eddsa)
file(READ ${CMAKE_SOURCE_DIR}/keys/dev-legacy.public _dev_legacy)
string(STRIP "${_dev_eddsa}" _dev_eddsa)
string(STRIP "${_dev_legacy}" _dev_legacy)
set(INSTALLER_EDDSA_PUBLIC_KEY "${_dev_eddsa}" CACHE STRING "Ed25519 public key, 64 hex characters")
set(INSTALLER_LEGACY_PUBLIC_KEY "${_dev_legacy}" CACHE STRING "Legacy curve25519 public key (u, little-endian), 64 hex characters")

function(installer_key_to_c_array var hex out)
  if(NOT hex MATCHES "^[0-9a-fA-F]+$")
    message(FATAL_ERROR "${var} must be 64 hexadecimal characters, got '${hex}'")
  endif()
  string(LENGTH "${hex}" len)
  if(NOT len EQUAL 64)
    message(FATAL_ERROR "${var} must be 64 hexadecimal characters, got ${len}")
  endif()
  string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1, " bytes "${hex}")
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

installer_key_to_c_array(INSTALLER_EDDSA_PUBLIC_KEY "${INSTALLER_EDDSA_PUBLIC_KEY}" EDDSA_KEY_BYTES)
installer_key_to_c_array(INSTALLER_LEGACY_PUBLIC_KEY "${INSTALLER_LEGACY_PUBLIC_KEY}" LEGACY_KEY_BYTES)
configure_file(${CMAKE_SOURCE_DIR}/cmake/installer_keys.h.in ${CMAKE_BINARY_DIR}/generated/installer_keys.h @ONLY)
