# The configure step builds exactly the keys it is given: on a fresh build
# folder, on a reused one, and never the development keys when release keys
# are required. Run as: cmake -DSOURCE=<checkout> -DWORK=<scratch> -P keys_test.cmake
set(EDDSA 1111111111111111111111111111111111111111111111111111111111111111)
set(LEGACY aBcD22222222222222222222222222222222222222222222222222222222aBcD)
file(REMOVE_RECURSE ${WORK})

function(configure folder expect_ok)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/${folder} -DINSTALLER_TESTS=OFF ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expect_ok AND NOT status EQUAL 0)
    message(FATAL_ERROR "configure ${folder} failed: ${err}")
  elseif(NOT expect_ok AND status EQUAL 0)
    message(FATAL_ERROR "configure ${folder} should have stopped")
  endif()
  set(output "${out}${err}" PARENT_SCOPE)
endfunction()

function(expect_keys folder eddsa legacy)
  file(READ ${WORK}/${folder}/generated/installer_keys.h header)
  foreach(key eddsa legacy)
    string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1, " bytes "${${key}}")
    string(FIND "${header}" "{${bytes}}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${folder}: the ${key} key is not ${${key}}:\n${header}")
    endif()
  endforeach()
endfunction()

# Fresh folder, both keys given, release keys required.
configure(release ON -DINSTALLER_EDDSA_PUBLIC_KEY=${EDDSA} -DINSTALLER_LEGACY_PUBLIC_KEY=${LEGACY}
          -DINSTALLER_REQUIRE_RELEASE_KEYS=ON)
expect_keys(release ${EDDSA} ${LEGACY})
# Reused without the options: the keys stay.
configure(release ON)
expect_keys(release ${EDDSA} ${LEGACY})

# The development keys are named in the output, and refused when required.
file(READ ${SOURCE}/keys/dev-eddsa.public dev)
string(STRIP "${dev}" dev)
configure(development ON -DINSTALLER_LEGACY_PUBLIC_KEY=${LEGACY})
expect_keys(development ${dev} ${LEGACY})
if(NOT output MATCHES "INSTALLER_EDDSA_PUBLIC_KEY is the DEVELOPMENT key")
  message(FATAL_ERROR "the development key went unmentioned:\n${output}")
endif()
configure(required OFF -DINSTALLER_LEGACY_PUBLIC_KEY=${LEGACY} -DINSTALLER_REQUIRE_RELEASE_KEYS=ON)
file(REMOVE_RECURSE ${WORK})
