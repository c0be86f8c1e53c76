# Packages of everything `cmake --install` installs (library, headers, CMake and pkg-config files,
# tool with man pages and completion, Python package): a .deb for /usr and a relocatable .tar.gz.
#   cmake --build build/release && (cd build/release && cpack)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_NAME lumetra-horizontal-grid)
set(CPACK_PACKAGE_VENDOR Lumetra)
set(CPACK_PACKAGE_CONTACT "Lumetra developers <developers@lumetra.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Horizontal grid tracking environment: library, host headers, tool and Python package")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Run-time needs of the tool (fmt, librsvg and cairo for its pictures, the C++ runtime) found by
# dpkg-shlibdeps; numpy for Python.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, python3-numpy, pkg-config")
set(CPACK_ARCHIVE_FILE_EXTENSION tar.gz)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackOptions.cmake)
include(CPack)
