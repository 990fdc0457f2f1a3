# What a Windows user gets: varnel-setup-<version>.exe (NSIS) and a .zip of the
# programs for those who do not install. `cmake --build <dir> --target windows-packages`.
set(varnel_win_files $<TARGET_FILE:varnel> $<TARGET_FILE:varnel-read>)
set(varnel_win_docs ${PROJECT_SOURCE_DIR}/COPYING ${PROJECT_SOURCE_DIR}/README.md)
set(VARNEL_SETUP ${PROJECT_BINARY_DIR}/varnel-setup-${PROJECT_VERSION}.exe)
set(VARNEL_ZIP ${PROJECT_BINARY_DIR}/varnel-${PROJECT_VERSION}-windows-x86_64.zip)

set(VARNEL_SETUP_FILES "")
set(VARNEL_UNINSTALL_FILES "")
foreach(file varnel.exe varnel-read.exe COPYING README.md)
  string(APPEND VARNEL_SETUP_FILES "  File \"@DIR@/${file}\"\n")
  string(APPEND VARNEL_UNINSTALL_FILES "  Delete \"$INSTDIR\\${file}\"\n")
endforeach()
set(stage ${PROJECT_BINARY_DIR}/windows-stage)
string(REPLACE "@DIR@" "${stage}" VARNEL_SETUP_FILES "${VARNEL_SETUP_FILES}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/varnel.nsi.in ${PROJECT_BINARY_DIR}/varnel.nsi @ONLY)

find_program(MAKENSIS makensis)
set(packages ${VARNEL_ZIP})
add_custom_command(OUTPUT ${VARNEL_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
  COMMAND ${CMAKE_COMMAND} -E copy ${varnel_win_files} ${varnel_win_docs} ${stage}
  COMMAND ${CMAKE_COMMAND} -E chdir ${stage} ${CMAKE_COMMAND} -E tar cf ${VARNEL_ZIP} --format=zip
          varnel.exe varnel-read.exe COPYING README.md
  DEPENDS varnel varnel-read ${varnel_win_docs} VERBATIM)
if(MAKENSIS)
  add_custom_command(OUTPUT ${VARNEL_SETUP}
    COMMAND ${MAKENSIS} -V2 ${PROJECT_BINARY_DIR}/varnel.nsi
    DEPENDS ${VARNEL_ZIP} ${PROJECT_BINARY_DIR}/varnel.nsi VERBATIM)
  list(APPEND packages ${VARNEL_SETUP})
else()
  message(WARNING "makensis not found (scripts/setup-deps installs nsis): no installer")
endif()
add_custom_target(windows-packages ALL DEPENDS ${packages})
