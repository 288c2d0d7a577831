# The built-in public keys. The defaults are the project's development keys
# (their private halves live in keys/ for the tests and the demo); a
# production build must set its own.
file(READ ${CMAKE_SOURCE_DIR}/keys/dev-eddsa.public _dev_eddsa)
file(READ ${CMAKE_SOURCE_DIR}/keys/dev-legacy.public _dev_legacy)
string(STRIP "${_dev_eddsa}" _dev_eddsa)
string(STRIP "${_dev_legacy}" _dev_legacy)
# A cache entry that still holds the previous development key follows the
# files when they change (new keys from "qpk keygen"); a key given with -D,
# on a fresh build folder or a reused one, is kept as given.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/keys/dev-eddsa.public ${CMAKE_SOURCE_DIR}/keys/dev-legacy.public)
option(INSTALLER_REQUIRE_RELEASE_KEYS "Stop the configuration when a development key would be built in" OFF)
foreach(_kind EDDSA LEGACY)
  if(_kind STREQUAL "EDDSA")
    set(_dev_key "${_dev_eddsa}")
  else()
    set(_dev_key "${_dev_legacy}")
  endif()
  if(DEFINED _INSTALLER_${_kind}_DEV_KEY AND INSTALLER_${_kind}_PUBLIC_KEY STREQUAL _INSTALLER_${_kind}_DEV_KEY)
    set_property(CACHE INSTALLER_${_kind}_PUBLIC_KEY PROPERTY VALUE "${_dev_key}")
  endif()
  set(_INSTALLER_${_kind}_DEV_KEY "${_dev_key}" CACHE INTERNAL "development key the default came from")
endforeach()
set(INSTALLER_EDDSA_PUBLIC_KEY "${_dev_eddsa}" CACHE STRING "Ed25519 public key, 64 hex characters")
set(INSTALLER_LEGACY_PUBLIC_KEY "${_dev_legacy}" CACHE STRING "Legacy curve25519 public key (u, little-endian), 64 hex characters")

# Anyone can sign with the development keys: say so, or refuse.
foreach(_kind EDDSA LEGACY)
  string(TOLOWER "${INSTALLER_${_kind}_PUBLIC_KEY}" _given)
  string(TOLOWER "${_INSTALLER_${_kind}_DEV_KEY}" _dev)
  if(_given STREQUAL _dev)
    if(INSTALLER_REQUIRE_RELEASE_KEYS)
      message(FATAL_ERROR "INSTALLER_${_kind}_PUBLIC_KEY is the development key, whose private half is in "
                          "keys/; set a release key (INSTALLER_REQUIRE_RELEASE_KEYS is ON)")
    endif()
    message(WARNING "INSTALLER_${_kind}_PUBLIC_KEY is the DEVELOPMENT key: anyone can sign packages "
                   "this build accepts")
  endif()
endforeach()

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
