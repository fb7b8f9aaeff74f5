# The Windows program's installer, made by NSIS's makensis (which runs on Linux):
#
#   cmake --build --preset windows --target windows_installer
#       -> build/windows/vantory-<version>-setup.exe
#
# The installer script is data/windows/installer.nsi. The Windows build makes it with the
# program; tests/windows_package_test.sh installs and uninstalls it under wine.

if(NOT WIN32 OR NOT TARGET vantory)
  return()
endif()

find_program(VANTORY_MAKENSIS makensis)
if(NOT VANTORY_MAKENSIS)
  message(STATUS "makensis not found: no Windows installer (Debian package nsis)")
  return()
endif()

set(VANTORY_INSTALLER ${PROJECT_BINARY_DIR}/vantory-${PROJECT_VERSION}-setup.exe)
set(_vantory_nsi ${PROJECT_SOURCE_DIR}/data/windows/installer.nsi)
set(_vantory_ico ${PROJECT_SOURCE_DIR}/data/icons/vantory.ico)
add_custom_command(
  OUTPUT ${VANTORY_INSTALLER}
  COMMAND ${VANTORY_MAKENSIS} -V2 -WX -DVERSION=${PROJECT_VERSION}
          -DPROGRAM=$<TARGET_FILE:vantory> -DOUTFILE=${VANTORY_INSTALLER}
          -DICON=${_vantory_ico} ${_vantory_nsi}
  DEPENDS vantory ${_vantory_nsi} ${_vantory_ico}
  COMMENT "Making the installer vantory-${PROJECT_VERSION}-setup.exe"
  VERBATIM)
add_custom_target(windows_installer ALL DEPENDS ${VANTORY_INSTALLER})
