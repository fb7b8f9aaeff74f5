# GoogleTest for the cross build for Windows, from Debian's sources (package googletest); ctest
# runs the tests under wine (CMAKE_CROSSCOMPILING_EMULATOR, set by cmake/mingw-w64.cmake).
set(VANTORY_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS ${VANTORY_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources at ${VANTORY_GTEST_SOURCE}: install the googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# Vantory's warning flags (and -Werror) are for Vantory's own code.
get_directory_property(vantory_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${VANTORY_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${vantory_options}")
