# The tests of the core in the cross build for Windows (the "windows" preset). GoogleTest is
# built here from Debian's sources (package googletest) with the cross compiler, and ctest
# runs every test under wine (CMAKE_CROSSCOMPILING_EMULATOR, set by cmake/mingw-w64.cmake).
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
include(GoogleTest)

add_library(vantory_test_support STATIC support/temp_folder.cpp support/test_store.cpp)
target_include_directories(vantory_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vantory_test_support PUBLIC vantory_core GTest::gtest GTest::gmock)

# Not built for Windows yet: storage_settings_test (the folder is checked as a '/' path),
# change_password, crash and fault tests (their children come from fork()),
# file_services_test (links, permission bits, /dev/shm; its Windows forms are in
# win32_platform_test) and the GUI tests (no Qt in this build).
add_executable(vantory_core_tests
  cipher_test.cpp
  platform_test.cpp
  win32_platform_test.cpp
  settings_file_test.cpp
  startup_test.cpp
  move_journal_test.cpp
  sealed_copy_test.cpp
)
target_link_libraries(vantory_core_tests PRIVATE vantory_test_support GTest::gtest_main)
gtest_discover_tests(vantory_core_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
