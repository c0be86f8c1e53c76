# Installation: the shared library, the host headers with the math headers they include, a CMake
# package configuration and a pkg-config file. Hosts load the library at run time (dlopen), so
# the package hands out the library file's path rather than something to link against.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LUMETRA_PACKAGE_NAME LumetraVeskEnvironmentHorizontalGrid)
set(LUMETRA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
set(LUMETRA_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR})
set(LUMETRA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/${LUMETRA_PACKAGE_NAME})
set(LUMETRA_LIBRARY_FILE_NAME
    ${CMAKE_SHARED_LIBRARY_PREFIX}LumetraVeskEnvironmentHorizontalGrid${CMAKE_SHARED_LIBRARY_SUFFIX})

install(TARGETS LumetraVeskEnvironmentHorizontalGrid
    LIBRARY DESTINATION ${LUMETRA_INSTALL_LIBDIR})

# Headers live under the package's own folder only: hosts write
# #include <LumetraVeskEnvironmentHorizontalGrid/LumetraVeskEnvironmentHorizontalGridHost.h> with
# <prefix>/include on the include path. The host header includes "math/Pose.h", which pulls in
# three more math headers; their includes of each other become relative to their own folder, so
# no generic name (math/Vector.h) lands on a host's include path. The layout is staged in the
# build tree, where the tests build the README's host against it, and installed from there.
set(LUMETRA_STAGED_HEADERS include/LumetraVeskEnvironmentHorizontalGrid.h
    include/LumetraVeskEnvironmentHorizontalGridHost.h include/LumetraVeskEnvironmentHorizontalGridCamera.h
    include/LumetraVeskEnvironmentHorizontalGridRecording.h
    math/Vector.h math/Matrix.h math/Quaternion.h math/Pose.h)
foreach(header ${LUMETRA_STAGED_HEADERS})
    file(READ ${PROJECT_SOURCE_DIR}/${header} text)
    get_filename_component(folder ${header} DIRECTORY)
    get_filename_component(name ${header} NAME)
    if(folder STREQUAL "math")
        string(REPLACE "#include \"math/" "#include \"" text "${text}")
        set(name math/${name})
    endif()
    file(CONFIGURE OUTPUT ${LUMETRA_STAGED_INCLUDEDIR}/${LUMETRA_PACKAGE_NAME}/${name} CONTENT "${text}" @ONLY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${header})
endforeach()
install(DIRECTORY ${LUMETRA_STAGED_INCLUDEDIR}/${LUMETRA_PACKAGE_NAME} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

configure_package_config_file(cmake/${LUMETRA_PACKAGE_NAME}Config.cmake.in
    ${PROJECT_BINARY_DIR}/${LUMETRA_PACKAGE_NAME}Config.cmake
    INSTALL_DESTINATION ${LUMETRA_INSTALL_CMAKEDIR}
    PATH_VARS LUMETRA_INSTALL_INCLUDEDIR LUMETRA_INSTALL_LIBDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/${LUMETRA_PACKAGE_NAME}ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/${LUMETRA_PACKAGE_NAME}Config.cmake
    ${PROJECT_BINARY_DIR}/${LUMETRA_PACKAGE_NAME}ConfigVersion.cmake
    DESTINATION ${LUMETRA_INSTALL_CMAKEDIR})

# The .pc file finds its prefix from its own location, so the tree may be installed anywhere
# (cmake --install --prefix) or moved afterwards.
file(RELATIVE_PATH LUMETRA_PKGCONFIG_TO_PREFIX
    /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" LUMETRA_PKGCONFIG_TO_PREFIX "${LUMETRA_PKGCONFIG_TO_PREFIX}")
set(LUMETRA_PKGCONFIG_DL_LIBS "")
if(CMAKE_DL_LIBS)
    set(LUMETRA_PKGCONFIG_DL_LIBS -l${CMAKE_DL_LIBS})
endif()
configure_file(cmake/${LUMETRA_PACKAGE_NAME}.pc.in
    ${PROJECT_BINARY_DIR}/${LUMETRA_PACKAGE_NAME}.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${LUMETRA_PACKAGE_NAME}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The Python package, with its frame simulator library in the package's folder and the
# environment library's location relative to the package (read by its loader). Debian's
# interpreter reads <prefix>/lib/python3/dist-packages for the prefix /usr; for another prefix,
# add that folder to PYTHONPATH.
set(LUMETRA_INSTALL_PYTHONDIR lib/python3/dist-packages CACHE STRING
    "Folder under the prefix that receives the Python package")
set(LUMETRA_PYTHON_PACKAGEDIR ${LUMETRA_INSTALL_PYTHONDIR}/lumetra_horizontal_grid)
install(DIRECTORY python/lumetra_horizontal_grid DESTINATION ${LUMETRA_INSTALL_PYTHONDIR}
    PATTERN __pycache__ EXCLUDE)
# The frame simulator's library also goes beside the environment library, where a copy of the
# package installed by pip (which carries no libraries) finds it.
if(TARGET lumetra_simulation_c)
    install(TARGETS lumetra_simulation_c LIBRARY DESTINATION ${LUMETRA_PYTHON_PACKAGEDIR})
    install(TARGETS lumetra_simulation_c LIBRARY DESTINATION ${LUMETRA_INSTALL_LIBDIR})
endif()
file(RELATIVE_PATH LUMETRA_PYTHON_TO_LIBRARY
    /prefix/${LUMETRA_PYTHON_PACKAGEDIR} /prefix/${LUMETRA_INSTALL_LIBDIR}/${LUMETRA_LIBRARY_FILE_NAME})
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/python/_installed.py
    CONTENT "# Written by cmake --install: the environment library, relative to this folder.\nLIBRARY_RELATIVE_PATH = \"@LUMETRA_PYTHON_TO_LIBRARY@\"\n"
    @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/python/_installed.py DESTINATION ${LUMETRA_PYTHON_PACKAGEDIR})

# The command-line tool, its man pages (made with help2man from its --help texts when help2man is
# installed) and its bash completion.
if(TARGET lumetra-horizontal-grid)
    install(TARGETS lumetra-horizontal-grid RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES tools/completion/lumetra-horizontal-grid.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lumetra-horizontal-grid)
    find_program(LUMETRA_HELP2MAN help2man)
    set(LUMETRA_MAN_DIR ${PROJECT_BINARY_DIR}/man)
    file(MAKE_DIRECTORY ${LUMETRA_MAN_DIR})
    if(LUMETRA_HELP2MAN AND NOT LUMETRA_SANITIZERS)
        add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man.stamp
            COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:lumetra-horizontal-grid> -DVERSION=${PROJECT_VERSION}
                    -DOUTPUT=${LUMETRA_MAN_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/ManPages.cmake
            COMMAND ${CMAKE_COMMAND} -E touch ${PROJECT_BINARY_DIR}/man.stamp
            DEPENDS lumetra-horizontal-grid ${PROJECT_SOURCE_DIR}/cmake/ManPages.cmake
            COMMENT "Man pages of lumetra-horizontal-grid")
        add_custom_target(lumetra_man_pages ALL DEPENDS ${PROJECT_BINARY_DIR}/man.stamp)
    endif()
    install(DIRECTORY ${LUMETRA_MAN_DIR}/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

include(cmake/Package.cmake)
