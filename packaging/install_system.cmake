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

# Characters that would need escaping in an Exec line are refused rather than written wrong.
if(program MATCHES "[\"`$\\\\%\n]")
  message(FATAL_ERROR "Cannot write menu entries for the prefix ${CMAKE_INSTALL_PREFIX}: choose one "
                      "without quotes, dollar signs, backslashes or per-cent signs")
endif()
# A path is quoted in an Exec line only when it must be: xdg-open (xdg-utils 1.1.3) passes the
# words of an Exec line on with their quotes, so a quoted path names no file for it.
function(exec_word path out)
  if(path MATCHES "[ \t'><~|&;*?#()]")
    set(${out} "\"${path}\"" PARENT_SCOPE)
  else()
    set(${out} "${path}" PARENT_SCOPE)
  endif()
endfunction()
exec_word("${program}/win/contconv/copy/PSP/ISO_Compress/isoconv.sh" CONVERTER)
exec_word("${program}/bin" TOOLS)
exec_word("${program}/kivo" KIVO)

# "Open With" actions for the disc image formats, under the names the Shell integration page
# gives its own, so a user who also adds those sees each action once. The EBOOT action has an
# entry of its own: the page's "Convert to ISO" does not take EBOOT.PBP files.
set(iso_types "application/x-cd-image;application/x-iso9660-image;")
set(cso_types "application/x-compressed-iso;")
set(dax_types "application/x-dax-image;")
set(chd_types "application/x-mame-chd;")
function(action id title comment format types)
  set(TITLE "${title}")
  set(COMMENT "${comment}")
  set(FORMAT "${format}")
  set(TYPES "${types}")
  configure_file("${KIVO_APPLICATIONS_DIR}/kivo-isoconv.desktop.in" "${root}/share/applications/${id}.desktop" @ONLY)
  message(STATUS "Installing: ${root}/share/applications/${id}.desktop")
endfunction()
# A type with no other application takes the first that claims it as its default: for Kivo's
# types that must be Kivo itself, which opens the file on its Convert page, and never a
# conversion. Its name sorts ahead of the conversions', as the desktop's index lists them.
file(WRITE "${root}/share/applications/kivo-image.desktop"
"[Desktop Entry]
Type=Application
Name=Kivo Workbench
GenericName=PSP toolkit
Comment=Open in Kivo Workbench, ready to convert
Icon=kivo-workbench
Exec=${KIVO} --open %f
MimeType=${iso_types}${cso_types}${dax_types}${chd_types}application/x-pbp;
NoDisplay=true
Terminal=false
")
message(STATUS "Installing: ${root}/share/applications/kivo-image.desktop")
set(umd "Convert UMD images with Kivo Workbench")
action(kivo-isoconv-cso "Convert to CSO" "${umd}" cso "${iso_types}${dax_types}${chd_types}")
action(kivo-isoconv-dax "Convert to DAX" "${umd}" dax "${iso_types}${cso_types}${chd_types}")
action(kivo-isoconv-iso "Convert to ISO" "${umd}" iso "${cso_types}${dax_types}${chd_types}")
action(kivo-isoconv-chd "Convert to CHD" "${umd}" chd "${iso_types}${cso_types}${dax_types}")
action(kivo-workbench-eboot "Extract the PS1 disc image" "Write the disc image of a PS1 EBOOT.PBP beside it"
       iso "application/x-pbp;")
