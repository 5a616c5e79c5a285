# The Debian package, made by CPack from the same install rules as `cmake --install`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kivo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kivo Workbench developers")
set(CPACK_PACKAGE_CONTACT "Kivo Workbench developers <kivo-workbench@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "toolkit for PSP owners: UMD images, PS1 EBOOTs, plug-ins")
# CPack puts the summary in front as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Kivo Workbench converts UMD images between ISO, CSO, ZSO and DAX, makes PS1
EBOOT.PBP files from PS1 disc images and turns them back into disc images,
installs plug-ins on a PSP's memory stick and edits its plug-in lists,
previews an XMB look, links PC and PSP and backs up the PSP's registry.
.
The console tools rastle, ciso, dax, psx and psxdisc do the conversions and
can be used on their own; a file manager offers them for CSO, DAX and EBOOT.PBP
files.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Installed as into /usr with DESTDIR, so the menu entries name /usr and not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})

# CPack's own dependency scan would make the web engine a hard dependency through the web view
# module. Our scan, run when the package is made, makes the module's libraries a recommendation:
# Kivo loads the module only when it can, and works without it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(kivo_programs "$<TARGET_FILE:kivo>")
foreach(tool IN LISTS KIVO_PATH_COMMANDS KIVO_TOOL_PROGRAMS KIVO_HOST_COMMANDS)
  list(APPEND kivo_programs "$<TARGET_FILE:${tool}>")
endforeach()
# The song module is loaded at run time, so no scan of kivo sees Qt Multimedia; the About song is
# part of the program, so its libraries are needed, not recommended.
list(APPEND kivo_programs "$<TARGET_FILE:kivo_song>")
set(kivo_modules)
if(TARGET kivo_webviews)
  set(kivo_modules "$<TARGET_FILE:kivo_webviews>")
endif()
# The About song plays through GStreamer: its base plug-ins play, its good ones decode MP3.
set(KIVO_RUNTIME_DEPENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
# The look's substitutes for the described fonts, and the desktop's opener for web pages and files.
set(KIVO_RUNTIME_RECOMMENDS "fonts-dejavu-core, xdg-utils")
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/cpack_dependencies.cmake
  CONTENT "set(KIVO_PROGRAMS \"${kivo_programs}\")
set(KIVO_MODULES \"${kivo_modules}\")
set(KIVO_SCAN_DIR \"${CMAKE_CURRENT_BINARY_DIR}/shlibdeps\")
set(KIVO_RUNTIME_DEPENDS \"${KIVO_RUNTIME_DEPENDS}\")
set(KIVO_RUNTIME_RECOMMENDS \"${KIVO_RUNTIME_RECOMMENDS}\")
include(\"${CMAKE_CURRENT_SOURCE_DIR}/dependencies.cmake\")
")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack_dependencies.cmake)

include(CPack)
