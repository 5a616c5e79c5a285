# Runs at install time, so links and menu entries name the prefix really installed to.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(program "${CMAKE_INSTALL_PREFIX}/${KIVO_INSTALL_DIR}")

# The commands on PATH are links into the tool folder, where Kivo itself starts them.
file(MAKE_DIRECTORY "${root}/bin")
foreach(command IN LISTS KIVO_PATH_COMMANDS)
  file(CREATE_LINK "../${KIVO_INSTALL_DIR}/bin/${command}" "${root}/bin/${command}" SYMBOLIC)
  message(STATUS "Installing: ${root}/bin/${command}")
endforeach()
foreach(command IN LISTS KIVO_HOST_COMMANDS)
  file(CREATE_LINK "../${KIVO_INSTALL_DIR}/bin/${command}" "${root}/bin/kivo-${command}" SYMBOLIC)
  message(STATUS "Installing: ${root}/bin/kivo-${command}")
endforeach()

# The entries quote the folder in their Exec lines; characters that would need escaping there
# are refused rather than written wrong.
if(program MATCHES "[\"`$\\\\%\n]")
  message(FATAL_ERROR "Cannot write menu entries for the prefix ${CMAKE_INSTALL_PREFIX}: choose one "
                      "without quotes, dollar signs, backslashes or per-cent signs")
endif()

# "Open With" actions for the disc image formats, under the names the Shell integration page
# gives its own, so a user who also adds those sees each action once. The EBOOT action has an
# entry of its own: the page's "Convert to ISO" does not take EBOOT.PBP files.
set(iso_types "application/x-cd-image;application/x-iso9660-image;")
set(cso_types "application/x-compressed-iso;")
set(dax_types "application/x-dax-image;")
function(action id title comment format types)
  set(TITLE "${title}")
  set(COMMENT "${comment}")
  set(FORMAT "${format}")
  set(TYPES "${types}")
  set(PROGRAM "${program}")
  configure_file("${KIVO_APPLICATIONS_DIR}/kivo-isoconv.desktop.in" "${root}/share/applications/${id}.desktop" @ONLY)
  message(STATUS "Installing: ${root}/share/applications/${id}.desktop")
endfunction()
set(umd "Convert UMD images with Kivo Workbench")
action(kivo-isoconv-cso "Convert to CSO" "${umd}" cso "${iso_types}${dax_types}")
action(kivo-isoconv-dax "Convert to DAX" "${umd}" dax "${iso_types}${cso_types}")
action(kivo-isoconv-iso "Convert to ISO" "${umd}" iso "${cso_types}${dax_types}")
action(kivo-workbench-eboot "Extract the PS1 disc image" "Write the disc image of a PS1 EBOOT.PBP beside it"
       iso "application/x-pbp;")
