# Installs Vantory like any Linux desktop program (program, icons, desktop entry, AppStream
# metadata) and configures CPack to build a Debian package from the same rules.
#
#   cmake --install <build> [--prefix /usr/local]    install into a prefix (DESTDIR honoured)
#   cd <build> && cpack                              vantory_<version>_<arch>.deb in <build>

if(NOT TARGET vantory OR WIN32)
  return()  # core-only build, or the Windows program, whose installer is built apart
endif()

include(GNUInstallDirs)

set(VANTORY_APP_ID "org.corvantis.vantory")
set(VANTORY_SCREENSHOT_BASE_URL "" CACHE STRING
    "Web address under which docs/screenshots/ is published (ends in '/'); when set, the \
AppStream metadata lists the screenshots found there")
set(VANTORY_PACKAGE_MAINTAINER "Vantory developers <developers@vantory.invalid>" CACHE STRING
    "Maintainer field of the Debian package")

set(_vantory_data "${PROJECT_SOURCE_DIR}/data")
set(_vantory_metainfo_in "${_vantory_data}/${VANTORY_APP_ID}.metainfo.xml")
set(_vantory_metainfo "${PROJECT_BINARY_DIR}/data/${VANTORY_APP_ID}.metainfo.xml")

# The metadata names a release; keep it in step with the project's version.
file(READ "${_vantory_metainfo_in}" _vantory_metainfo_text)
if(NOT _vantory_metainfo_text MATCHES "<release version=\"${PROJECT_VERSION}\"")
  message(WARNING "${_vantory_metainfo_in} has no <release> for version ${PROJECT_VERSION}")
endif()

# AppStream accepts screenshots only as web addresses, so they are listed only once the
# repository's screenshots have a public home. The main window's come first, and the first
# one is the default.
set(_vantory_screenshots "")
if(VANTORY_SCREENSHOT_BASE_URL)
  file(GLOB _vantory_shots RELATIVE "${PROJECT_SOURCE_DIR}/docs/screenshots"
       CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/docs/screenshots/*.png")
  list(SORT _vantory_shots)
  set(_main_shots ${_vantory_shots})
  list(FILTER _main_shots INCLUDE REGEX "^main")
  if(_main_shots)
    list(REMOVE_ITEM _vantory_shots ${_main_shots})
    list(PREPEND _vantory_shots ${_main_shots})
  endif()
  set(_type " type=\"default\"")
  foreach(_shot IN LISTS _vantory_shots)
    string(APPEND _vantory_screenshots
           "\n    <screenshot${_type}>\n"
           "      <image>${VANTORY_SCREENSHOT_BASE_URL}${_shot}</image>\n"
           "    </screenshot>")
    set(_type "")
  endforeach()
  if(_vantory_screenshots)
    set(_vantory_screenshots "<screenshots>${_vantory_screenshots}\n  </screenshots>")
  endif()
endif()
string(REPLACE "<!-- screenshots -->" "${_vantory_screenshots}" _vantory_metainfo_text
       "${_vantory_metainfo_text}")
file(CONFIGURE OUTPUT "${_vantory_metainfo}" CONTENT "${_vantory_metainfo_text}" @ONLY)
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${_vantory_metainfo_in}")

install(TARGETS vantory RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${_vantory_data}/vantory.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_vantory_metainfo}" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${_vantory_data}/icons/vantory.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
foreach(_size IN ITEMS 16 24 32 48 64 128 256)
  install(FILES "${_vantory_data}/icons/hicolor/${_size}x${_size}/apps/vantory.png"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps")
endforeach()

# The Debian package.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "vantory")
set(CPACK_PACKAGE_VENDOR "Corvantis")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hide files behind an access password")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Vantory moves files, or writes sealed copies of them, into a storage folder"
    "under neutral numbered names, marks them hidden and keeps the list of them"
    "behind an access password. From that list the files can be put back, opened"
    "for a while, or moved to another storage folder."
    "The sealing keeps files from casual eyes; it is not strong encryption.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")  # vantory_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VANTORY_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Library dependencies come from dpkg-shlibdeps; the platform plugins (xcb and the rest)
# are loaded at run time, so they are named here or the program would not start.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils")
include(CPack)
