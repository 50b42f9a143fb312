# Installation extras and packages: manual pages, a .deb for POSIX and a .zip for Win32.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/windows/README-WINDOWS.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/docs/man/pageout.1 ${PROJECT_SOURCE_DIR}/docs/man/text2pdf.1
    DESTINATION share/man/man1)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  # The run-time needs come from the linked libraries; the viewer command runs xdg-open.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
endif()

set(CPACK_PACKAGE_NAME pageout)
set(CPACK_PACKAGE_VENDOR "PAGEOUT developers")
set(CPACK_PACKAGE_CONTACT "PAGEOUT developers <dev@pageout.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert a text file into a PDF in one of three page layouts")
set(CPACK_PACKAGE_DESCRIPTION
  "pageout asks for a text file and a page layout (landscape or portrait, 132 or 80 columns), has\n\
the command interpreter run its converter text2pdf into OT.PDF and opens the result.")
set(CPACK_STRIP_FILES ON)
include(CPack)
