# What an OS build or a package gets from "cmake --install": the programs, the
# manual pages and the completion where such a build looks for them, nothing
# else (no development key, as a file or inside a program), and pages that
# render. With CHECK=program-only: a build folder configured for a router
# image knows the installer alone. Run as:
#   cmake -DCHECK=install|program-only -DBUILD=<build> -DSOURCE=<checkout> -DWORK=<scratch>
#         -DMAN_PAGES=ON|OFF -P install_test.cmake
file(REMOVE_RECURSE ${WORK})

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

if(CHECK STREQUAL "program-only")
  run("configure" ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK} -DINSTALLER_PROGRAM_ONLY=ON)
  # Every generator gives a target with sources a folder CMakeFiles/<target>.dir.
  if(NOT IS_DIRECTORY ${WORK}/CMakeFiles/installer.dir)
    message(FATAL_ERROR "a program-only build has no installer target")
  endif()
  foreach(left_out CMakeFiles/qpk.dir CMakeFiles/qpkbuild.dir tests bench)
    if(EXISTS ${WORK}/${left_out})
      message(FATAL_ERROR "a program-only build has ${left_out}")
    endif()
  endforeach()
  file(REMOVE_RECURSE ${WORK})
  return()
endif()

set(root ${WORK}/root)
run("cmake --install" ${CMAKE_COMMAND} -E env DESTDIR=${root} ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
set(expected usr/bin/qpk usr/sbin/installer usr/share/bash-completion/completions/qpk)
if(MAN_PAGES)
  list(APPEND expected usr/share/man/man1/qpk.1 usr/share/man/man8/installer.8)
endif()
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()

# A private key must not reach a system, neither as a file nor built in.
file(GLOB private_keys ${SOURCE}/keys/*.private)
foreach(key_file ${private_keys})
  file(STRINGS ${key_file} key LIMIT_COUNT 1)
  string(TOLOWER "${key}" key)
  string(HEX "${key}" key_text)
  foreach(file ${installed})
    file(READ ${root}/${file} bytes HEX)
    string(FIND "${bytes}" "${key}" as_bytes)
    string(FIND "${bytes}" "${key_text}" as_text)
    if(NOT as_bytes EQUAL -1 OR NOT as_text EQUAL -1)
      message(FATAL_ERROR "${file} holds the private key of ${key_file}")
    endif()
  endforeach()
endforeach()

# The installed programs run; an unknown word makes the installer print its
# usage line and change nothing.
run("qpk --help" ${root}/usr/bin/qpk --help)
if(NOT out MATCHES "^usage: qpk COMMAND")
  message(FATAL_ERROR "qpk --help printed:\n${out}")
endif()
run("installer --usage" ${root}/usr/sbin/installer --usage)
if(NOT out STREQUAL "usage: installer [-q] [-r <root>] [-]\n")
  message(FATAL_ERROR "installer --usage printed:\n${out}")
endif()

# The completion, in a plain bash, completes a command's options.
find_program(BASH bash)
if(BASH)
  # Lines, not ";": run() takes its command as a CMake list.
  run("the completion" ${BASH} -c "source '${root}/usr/share/bash-completion/completions/qpk'
      COMP_WORDS=(qpk verify --p) COMP_CWORD=2
      _qpk
      echo \"\${COMPREPLY[*]}\"")
  if(NOT out STREQUAL "--public-eddsa --public-legacy\n")
    message(FATAL_ERROR "completing \"qpk verify --p\" gave: ${out}")
  endif()
endif()

# The pages render without a warning.
find_program(MAN man)
if(MAN_PAGES AND MAN)
  foreach(page man1/qpk.1:qpk man8/installer.8:installer)
    string(REPLACE ":" ";" page "${page}")
    list(GET page 0 path)
    list(GET page 1 name)
    run("man -l ${path}" ${CMAKE_COMMAND} -E env MANWIDTH=80 ${MAN} --warnings -l ${root}/usr/share/man/${path})
    if(NOT err STREQUAL "" OR NOT out MATCHES "NAME\n +${name} - " OR NOT out MATCHES "EXIT STATUS")
      message(FATAL_ERROR "man -l ${path}:\n${err}${out}")
    endif()
  endforeach()
elseif(MAN_PAGES)
  message(STATUS "man is missing: the pages were installed but not rendered")
endif()
file(REMOVE_RECURSE ${WORK})
