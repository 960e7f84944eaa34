# The release package: the two programs, the event-log registration, the settings with their
# defaults and the notes for administrators and server writers, in one ZIP file, and the same
# programs and settings as an MSI package beside it (Msi.cmake):
#   cmake --build --preset windows --target package
# The text files are written with CR LF line ends, as Windows tools expect them.

set(RELEASE_VERSION 1.14)
set(RELEASE_INSTALL_FOLDER "%SystemRoot%\\System32" CACHE STRING
    "Folder the programs are installed in on the target system, as the event log finds them")

# reg_expand_sz(NAME TEXT OUT): a .reg line for an expandable string value.  .reg files have no
# plain form for REG_EXPAND_SZ, so the value is written as its bytes (REGEDIT4: ANSI text and the
# terminating zero), wrapped the way the registry editor wraps them.
function(reg_expand_sz name text out)
  string(HEX "${text}" hex)
  string(REGEX MATCHALL ".." bytes "${hex}")
  list(APPEND bytes 00)
  set(line "\"${name}\"=hex(2):")
  set(result "")
  set(first TRUE)
  foreach(byte IN LISTS bytes)
    string(LENGTH "${line}" length)
    if(first)
      string(APPEND line "${byte}")
      set(first FALSE)
    elseif(length GREATER 72)
      string(APPEND result "${line},\\\r\n")
      set(line "  ${byte}")
    else()
      string(APPEND line ",${byte}")
    endif()
  endforeach()
  set(${out} "${result}${line}" PARENT_SCOPE)
endfunction()

set(TRANSLATOR_MESSAGE_FILE "${RELEASE_INSTALL_FOLDER}\\command-translator.exe")
set(STARTER_MESSAGE_FILE "${RELEASE_INSTALL_FOLDER}\\command-starter.exe")
reg_expand_sz(EventMessageFile "${TRANSLATOR_MESSAGE_FILE}" TRANSLATOR_MESSAGE_FILE_VALUE)
reg_expand_sz(EventMessageFile "${STARTER_MESSAGE_FILE}" STARTER_MESSAGE_FILE_VALUE)

# INSTALL.TXT lists the MSI package's properties from its settings table (with CR LF line ends:
# configure_file converts the line ends of the template only).
set(CPACK_PACKAGE_FILE_NAME orvane-remote-login-${RELEASE_VERSION}-win64)
set(MSI_PROPERTY_LINES "")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/msi-settings.txt msi_settings REGEX "^[A-Z]")
foreach(line IN LISTS msi_settings)
  string(REGEX MATCHALL "[^ \t]+" fields "${line}")
  list(GET fields 0 property)
  list(GET fields 1 keys)
  list(GET fields 2 value)
  list(GET fields 3 type)
  if(keys STREQUAL translator)
    set(keys "telnet and rlogin")
  endif()
  string(LENGTH "${property}" length)
  math(EXPR pad "27 - ${length}")
  string(REPEAT " " ${pad} gap1)
  string(LENGTH "${value}" length)
  math(EXPR pad "25 - ${length}")
  string(REPEAT " " ${pad} gap2)
  string(APPEND MSI_PROPERTY_LINES "    ${property}${gap1}${value}${gap2}${keys} (${type})\r\n")
endforeach()

set(release_texts EVENTLOG.REG SETTINGS.REG INSTALL.TXT SERVERS.TXT LICENSE.TXT)
set(release_files "")
foreach(text IN LISTS release_texts)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${text}.in ${CMAKE_BINARY_DIR}/release/${text} @ONLY
                 NEWLINE_STYLE CRLF)
  list(APPEND release_files ${CMAKE_BINARY_DIR}/release/${text})
endforeach()

install(TARGETS command-translator command-starter RUNTIME DESTINATION .)
install(FILES ${release_files} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME orvane-remote-login)
set(CPACK_PACKAGE_VENDOR "Orvane Software, Inc.")
set(CPACK_PACKAGE_VERSION ${RELEASE_VERSION})
set(CPACK_STRIP_FILES TRUE)
# After the ZIP, the MSI package from the same staged files.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/Msi.cmake)
include(CPack)
