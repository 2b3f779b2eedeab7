# The Windows installer (cpack -G NSIS in a Windows build folder, 64-bit NSIS 3): everything the
# build installs (tessaly-cli, and the window when it is built) in "Program Files\Tessaly\bin",
# with an uninstaller and its entry in the system's list of programs. Silent with /S.
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME Tessaly)
set(CPACK_PACKAGE_VENDOR "Korvane Research Inc.")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "files and firmware of a Korvane engine-data display unit")
set(CPACK_PACKAGE_FILE_NAME "tessaly-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tessaly")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Tessaly")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_CURRENT_SOURCE_DIR}/copyright")
set(CPACK_STRIP_FILES ON)
# A 64-bit program: the 64-bit program folder and registry view, and a Unicode installer.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "Korvane Tessaly")
set(CPACK_NSIS_DISPLAY_NAME "Korvane Tessaly")
set(CPACK_NSIS_MODIFY_PATH OFF)
include(CPack)
