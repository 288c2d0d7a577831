# The manual pages, written in scdoc (docs/man/*.scd) and converted at build
# time into BUILD/man/, where "man -l" reads them. Without scdoc the build
# goes on without them, and so does the install.
find_program(SCDOC_PROGRAM scdoc)
if(NOT SCDOC_PROGRAM)
  message(WARNING "scdoc not found: the manual pages installer(8) and qpk(1) are not built "
                  "(Debian package scdoc; scripts/deps.sh installs it)")
  set(INSTALLER_MAN_PAGES OFF)
  return()
endif()
set(INSTALLER_MAN_PAGES ON)

set(_pages)
foreach(_page installer.8:program qpk.1:tools)
  string(REPLACE ":" ";" _page "${_page}")
  list(GET _page 0 _name)
  list(GET _page 1 _component)
  set(_source ${CMAKE_SOURCE_DIR}/docs/man/${_name}.scd)
  set(_output ${CMAKE_BINARY_DIR}/man/${_name})
  # Written beside and renamed, so a failed conversion leaves no page that
  # the next build would take for up to date.
  add_custom_command(OUTPUT ${_output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                     COMMAND sh -c "\"$0\" < \"$1\" > \"$2.new\" && mv \"$2.new\" \"$2\""
                             ${SCDOC_PROGRAM} ${_source} ${_output}
                     DEPENDS ${_source}
                     COMMENT "Converting the manual page ${_name}"
                     VERBATIM)
  list(APPEND _pages ${_output})
  string(REGEX REPLACE ".*\\." "" _section "${_name}")
  install(FILES ${_output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${_section} COMPONENT ${_component})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${_pages})
