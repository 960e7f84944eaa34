# The MSI package, built with wixl from remote-login.wxs.in and the settings of msi-settings.txt.
# CPack runs this after the ZIP (CPACK_POST_BUILD_SCRIPTS), with the files it staged for the ZIP,
# and writes <package>-<version>-win64.msi beside it.  It also runs by itself:
#   cmake -D MSI_VERSION=1.15 -D MSI_FILES=DIR -D MSI_OUTPUT=FILE.msi -P packaging/Msi.cmake
# where DIR holds command-translator.exe, command-starter.exe, LICENSE.TXT, INSTALL.TXT and
# SERVERS.TXT.
#
# wixl knows only part of the WiX language.  What it cannot say is set afterwards in the built
# tables with msibuild:
#   - the Permanent bit of the settings components, so that removing the package keeps the
#     settings, NeverOverwrite on the defaults and Transitive on the properties' components;
#   - the components' conditions: a property's component is installed only when the property
#     is given, a default's only when its value is not there yet (found by a registry search,
#     since Wine's installer does not honour NeverOverwrite);
#   - EventMessageFile as an expandable string (wixl writes a plain one);
#   - registry rows without a value: the settings keys, created and kept, and the event sources'
#     keys, removed with the programs;
#   - the public properties as secure properties, so that they reach a per-machine install;
#   - the type of the actions that set a property (wixl adds a bit meant for deferred ones).
if(DEFINED CPACK_TEMPORARY_DIRECTORY)
  set(MSI_FILES ${CPACK_TEMPORARY_DIRECTORY})
  set(MSI_VERSION ${CPACK_PACKAGE_VERSION})
  set(MSI_OUTPUT ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi)
  set(MSI_WORK ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/MSI)
endif()
foreach(variable MSI_FILES MSI_VERSION MSI_OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "Msi.cmake: ${variable} is not set")
  endif()
endforeach()
get_filename_component(output_dir ${MSI_OUTPUT} DIRECTORY)
if(NOT DEFINED MSI_WORK)
  set(MSI_WORK ${output_dir}/_MSI)
endif()

find_program(WIXL wixl)
find_program(MSIBUILD msibuild)
find_program(MSIINFO msiinfo)
if(NOT WIXL OR NOT MSIBUILD OR NOT MSIINFO)
  message(FATAL_ERROR "The MSI package needs wixl and msitools: run tools/install-deps.sh")
endif()

# Windows Installer versions: major and minor up to 255, an optional build up to 65535.
if(NOT MSI_VERSION MATCHES "^([0-9]+)\\.([0-9]+)(\\.([0-9]+))?$" OR CMAKE_MATCH_1 GREATER 255
   OR CMAKE_MATCH_2 GREATER 255 OR (CMAKE_MATCH_4 AND CMAKE_MATCH_4 GREATER 65535))
  message(FATAL_ERROR "Msi.cmake: \"${MSI_VERSION}\" is no Windows Installer version")
endif()

set(MSI_PRODUCT_NAME "Orvane Command Translator and Command Starter")
# Never changes: every version finds and replaces the ones before it.  The product code is the
# same for every build of one version, so that building a version again makes no second product.
set(MSI_UPGRADE_CODE 76118946-C1F1-42FD-936E-0E35D0F1C0EF)
set(guid_namespace E909FE1F-0D98-43E2-B413-3479F53D2D1A)
string(UUID MSI_PRODUCT_CODE NAMESPACE ${MSI_UPGRADE_CODE} NAME "version ${MSI_VERSION}" TYPE SHA1
       UPPER)
set(MSI_EVENT_SOURCES "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application")
set(company_key "SOFTWARE\\Orvane Software, Inc.")
set(products Telnetd Rlogind Rexecd)
set(translator_products Telnetd Rlogind)
set(rexec_products Rexecd)

# Registry key path 4, Permanent 16, Transitive 64, NeverOverwrite 128, 64-bit 256.  A property's
# component is transitive: its condition is weighed again on a repair, which without the
# property leaves the value alone instead of writing it empty.  A default's is not: once
# written, a repair may write it again unless it is there (NeverOverwrite).
set(attributes_keys 272)
set(attributes_property 340)
set(attributes_default 404)

function(xml_text text out)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  string(REPLACE "\"" "&quot;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(MSI_SETTINGS_SEARCHES "")
set(MSI_SETTINGS_ACTIONS "")
set(MSI_SETTINGS_SEQUENCE "")
set(text_count 0)
set(MSI_SETTINGS_COMPONENTS "")
set(MSI_SETTINGS_REFS "")
set(queries "")
set(expected_components "")
set(public_properties "")

file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/msi-settings.txt lines REGEX "^[A-Z]")
foreach(line IN LISTS lines)
  string(REGEX MATCHALL "[^ \t]+" fields "${line}")
  list(LENGTH fields count)
  if(NOT count EQUAL 5)
    message(FATAL_ERROR "msi-settings.txt: not five columns: ${line}")
  endif()
  list(GET fields 0 property)
  list(GET fields 1 keys)
  list(GET fields 2 value)
  list(GET fields 3 type)
  list(GET fields 4 default)
  if(NOT DEFINED ${keys}_products OR NOT type MATCHES "^(number|text)$")
    message(FATAL_ERROR "msi-settings.txt: unknown keys or type: ${line}")
  endif()
  if(type STREQUAL number)
    set(wix_type integer)
    set(data "[${property}]")
  else()
    # The installer takes a value that begins with "#" for a number or binary data, and "##"
    # for a text with one "#" fewer: the text to write is the property's, with one "#" more
    # where it begins with "#".
    set(wix_type string)
    set(data "[Text${property}]")
    math(EXPR sequence "950 + ${text_count} * 2")
    math(EXPR text_count "${text_count} + 1")
    string(APPEND MSI_SETTINGS_ACTIONS
           "    <CustomAction Id=\"Text${property}\" Property=\"Text${property}\" "
           "Value=\"[${property}]\"/>\n"
           "    <CustomAction Id=\"Hash${property}\" Property=\"Text${property}\" "
           "Value=\"#[${property}]\"/>\n")
    math(EXPR next "${sequence} + 1")
    string(APPEND MSI_SETTINGS_SEQUENCE
           "      <Custom Action=\"Text${property}\" Sequence=\"${sequence}\">"
           "${property}</Custom>\n"
           "      <Custom Action=\"Hash${property}\" Sequence=\"${next}\">"
           "${property} &lt;&lt; \"#\"</Custom>\n")
  endif()
  list(APPEND public_properties ${property})

  # The property's component: its value in every key, when the property is given.
  string(UUID guid NAMESPACE ${guid_namespace} NAME "property ${property}" TYPE SHA1 UPPER)
  set(component Set${property})
  string(APPEND MSI_SETTINGS_COMPONENTS
         "        <Component Id=\"${component}\" Guid=\"${guid}\" Win64=\"yes\">\n")
  set(key_path " KeyPath=\"yes\"")
  foreach(product IN LISTS ${keys}_products)
    string(APPEND MSI_SETTINGS_COMPONENTS
           "          <RegistryValue Root=\"HKLM\" Key=\"${company_key}\\Orvane ${product} "
           "Server\\CurrentVersion\" Name=\"${value}\" Type=\"${wix_type}\" "
           "Value=\"${data}\"${key_path}/>\n")
    set(key_path "")
  endforeach()
  string(APPEND MSI_SETTINGS_COMPONENTS "        </Component>\n")
  string(APPEND MSI_SETTINGS_REFS "      <ComponentRef Id=\"${component}\"/>\n")
  list(APPEND queries "UPDATE `Component` SET `Attributes`=${attributes_property}, \
`Condition`='${property}' WHERE `Component`='${component}'")
  list(APPEND expected_components "${component}\t{${guid}}\tSystem64Folder\t\
${attributes_property}\t${property}\t")

  # The default: one component per key, installed only where the value is not there yet and
  # the property is not given (both would write the value, in no fixed order).
  if(NOT default STREQUAL "-")
    xml_text("${default}" default_xml)
    foreach(product IN LISTS ${keys}_products)
      set(key "${company_key}\\Orvane ${product} Server\\CurrentVersion")
      set(found Found${product}${value})
      set(component Default${product}${value})
      string(UUID guid NAMESPACE ${guid_namespace} NAME "default ${product} ${value}" TYPE SHA1
             UPPER)
      string(APPEND MSI_SETTINGS_SEARCHES
             "    <Property Id=\"${found}\"><RegistrySearch Id=\"${found}\" Root=\"HKLM\" "
             "Key=\"${key}\" Name=\"${value}\" Type=\"raw\" Win64=\"yes\"/></Property>\n")
      string(APPEND MSI_SETTINGS_COMPONENTS
             "        <Component Id=\"${component}\" Guid=\"${guid}\" Win64=\"yes\">\n"
             "          <RegistryValue Root=\"HKLM\" Key=\"${key}\" Name=\"${value}\" "
             "Type=\"${wix_type}\" Value=\"${default_xml}\" KeyPath=\"yes\"/>\n"
             "        </Component>\n")
      string(APPEND MSI_SETTINGS_REFS "      <ComponentRef Id=\"${component}\"/>\n")
      list(APPEND queries "UPDATE `Component` SET `Attributes`=${attributes_default}, \
`Condition`='NOT ${found} AND NOT ${property}' WHERE `Component`='${component}'")
      list(APPEND expected_components "${component}\t{${guid}}\tSystem64Folder\t\
${attributes_default}\tNOT ${found} AND NOT ${property}\t")
    endforeach()
  endif()
endforeach()

# MODERNTERMINAL: one component per setting of a modern terminal, installed when the property is
# given and the setting's own property is not (which then writes the value itself).  Transitive,
# as a property's component is.
set(modern_terminal_types "xterm-* screen* tmux* rxvt* linux")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/msi-modern.txt lines REGEX "^[A-Z]")
foreach(line IN LISTS lines)
  string(REGEX MATCHALL "[^ \t]+" fields "${line}")
  list(GET fields 0 property)
  list(GET fields 1 value)
  list(GET fields 2 type)
  list(GET fields 3 modern)
  if(modern STREQUAL "*")
    set(modern "${modern_terminal_types}")
  endif()
  set(wix_type string)
  if(type STREQUAL number)
    set(wix_type integer)
  endif()
  set(component Modern${property})
  set(condition "MODERNTERMINAL AND NOT ${property}")
  string(UUID guid NAMESPACE ${guid_namespace} NAME "modern ${property}" TYPE SHA1 UPPER)
  string(APPEND MSI_SETTINGS_COMPONENTS
         "        <Component Id=\"${component}\" Guid=\"${guid}\" Win64=\"yes\">\n")
  set(key_path " KeyPath=\"yes\"")
  foreach(product IN LISTS translator_products)
    string(APPEND MSI_SETTINGS_COMPONENTS
           "          <RegistryValue Root=\"HKLM\" Key=\"${company_key}\\Orvane ${product} "
           "Server\\CurrentVersion\" Name=\"${value}\" Type=\"${wix_type}\" "
           "Value=\"${modern}\"${key_path}/>\n")
    set(key_path "")
  endforeach()
  string(APPEND MSI_SETTINGS_COMPONENTS "        </Component>\n")
  string(APPEND MSI_SETTINGS_REFS "      <ComponentRef Id=\"${component}\"/>\n")
  list(APPEND queries "UPDATE `Component` SET `Attributes`=${attributes_property}, \
`Condition`='${condition}' WHERE `Component`='${component}'")
  list(APPEND expected_components "${component}\t{${guid}}\tSystem64Folder\t\
${attributes_property}\t${condition}\t")
endforeach()
list(APPEND public_properties MODERNTERMINAL)

# wixl marks its property-setting actions "no impersonation", a bit meant for deferred actions
# only: these are immediate ones, type 51.
if(text_count GREATER 0)
  list(APPEND queries "UPDATE `CustomAction` SET `Type`=51")
endif()

# The settings keys: created, and kept when the package is removed.
list(APPEND queries "UPDATE `Component` SET `Attributes`=${attributes_keys} \
WHERE `Component`='SettingsKeys'")
list(APPEND expected_components "SettingsKeys\t{665AD469-629D-474C-8F10-0589D38F90A0}\t\
System64Folder\t${attributes_keys}\t\t")
foreach(product IN LISTS products)
  list(APPEND queries "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) \
VALUES ('${product}Key', 2, '${company_key}\\Orvane ${product} Server\\CurrentVersion', '+', \
'SettingsKeys')")
endforeach()
# The event sources: the message file as an expandable string; the key goes with the program.
foreach(program Translator Starter)
  string(TOLOWER ${program} name)
  list(APPEND queries
       "UPDATE `Registry` SET `Value`='#%%SystemRoot%\\System32\\command-${name}.exe' \
WHERE `Registry`='${program}MessageFile'"
       "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES \
('${program}Source', 2, '${MSI_EVENT_SOURCES}\\Orvane Command ${program}', '*', '${program}')")
endforeach()

file(REMOVE_RECURSE ${MSI_WORK})
file(MAKE_DIRECTORY ${MSI_WORK})
# wixl takes the files' paths relative to the source's folder.
get_filename_component(MSI_FILES ${MSI_FILES} ABSOLUTE)
file(RELATIVE_PATH MSI_FILES ${MSI_WORK} ${MSI_FILES})
configure_file(${CMAKE_CURRENT_LIST_DIR}/remote-login.wxs.in ${MSI_WORK}/remote-login.wxs @ONLY)
set(built ${MSI_WORK}/package.msi)
execute_process(COMMAND ${WIXL} -a x64 -o ${built} ${MSI_WORK}/remote-login.wxs
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "wixl failed (${result}):\n${output}")
endif()

execute_process(COMMAND ${MSIINFO} export ${built} Property OUTPUT_VARIABLE table
                RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT table MATCHES "\nSecureCustomProperties\t([^\r\n]*)")
  message(FATAL_ERROR "no SecureCustomProperties in the built package")
endif()
string(REPLACE ";" "\\;" secure "${CMAKE_MATCH_1}")
foreach(property IN LISTS public_properties)
  string(APPEND secure "\\;${property}")
endforeach()
list(APPEND queries "UPDATE `Property` SET `Value`='${secure}' \
WHERE `Property`='SecureCustomProperties'")

foreach(query IN LISTS queries)
  execute_process(COMMAND ${MSIBUILD} ${built} -q "${query}" RESULT_VARIABLE result
                  OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild failed (${result}) on ${query}:\n${output}")
  endif()
endforeach()

# An UPDATE that matches no row succeeds quietly: check that every component took its bits.
execute_process(COMMAND ${MSIINFO} export ${built} Component OUTPUT_VARIABLE table)
foreach(expected IN LISTS expected_components)
  string(FIND "${table}" "\n${expected}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the built package lacks the component row \"${expected}\":\n${table}")
  endif()
endforeach()

file(RENAME ${built} ${MSI_OUTPUT})
message(STATUS "MSI package: ${MSI_OUTPUT} generated.")
