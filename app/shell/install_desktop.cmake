# Runs at install time, so the menu entry names the prefix really installed to (--prefix).
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(exec "${CMAKE_INSTALL_PREFIX}/${KIVO_INSTALL_DIR}/kivo")
# Quoted only where it must be: xdg-open (xdg-utils 1.1.3) keeps an Exec line's quotes.
if(exec MATCHES "[ \t'><~|&;*?#()\"`$\\\\]")
  set(exec "\"${exec}\"")
endif()
file(MAKE_DIRECTORY "${root}/share/applications" "${root}/bin")
file(WRITE "${root}/share/applications/kivo-workbench.desktop"
"[Desktop Entry]
Type=Application
Name=Kivo Workbench
GenericName=PSP toolkit
Comment=Convert UMD images, make PS1 EBOOTs and manage the memory stick's plug-ins
Exec=${exec} %f
Icon=kivo-workbench
Terminal=false
Categories=Utility;
Keywords=PSP;UMD;ISO;CSO;DAX;EBOOT;PS1;plug-in;XMB;
")
message(STATUS "Installing: ${root}/share/applications/kivo-workbench.desktop")
# The launcher is a link: Kivo finds its program folder through the real path of its executable.
file(CREATE_LINK "../${KIVO_INSTALL_DIR}/kivo" "${root}/bin/kivo" SYMBOLIC)
message(STATUS "Installing: ${root}/bin/kivo")
