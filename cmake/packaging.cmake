# What `cpack` makes from a build tree: for the win32 build the ZIP a Windows
# caller downloads (DLL, header, definition file, both import libraries, the
# calling guide); for a host build the Debian package of the tools.
set(CPACK_PACKAGE_NAME orrivane)
set(CPACK_PACKAGE_VENDOR "Orrivane developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Which BIOS a machine runs and which BIOS an image file holds")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES TRUE)  # symbols stay in the build tree

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME orrivane-${PROJECT_VERSION}-win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Orrivane developers <developers@orrivane.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Runs ORRIVANE.DLL's exports on simulated machines\n orrivane reports which BIOS a simulated machine runs and which BIOS an\n image file holds, as the Windows library does on a real machine;\n orrivane-mkimage writes synthetic BIOS images from recipes.")
  # dpkg-shlibdeps reads the tools' shared libraries and names their packages.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)

# The host build checks the Debian package it makes (not the sanitizer build,
# whose tools would declare the sanitizer runtimes).
option(ORRIVANE_PACKAGE_CHECK "Check the Debian package in the test suite" ON)
if(NOT WIN32 AND BUILD_TESTING AND ORRIVANE_PACKAGE_CHECK)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME package_deb
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/release/check_release.py deb
                   --cpack ${CMAKE_CPACK_COMMAND} --build ${PROJECT_BINARY_DIR} --work ${PROJECT_BINARY_DIR}/package-check)
endif()
