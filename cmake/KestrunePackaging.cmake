# Installing the library for others: headers, the CMake package
# (find_package(Kestrune)), a pkg-config file, and the Debian package made by
# `cpack -G DEB`.
include(CMakePackageConfigHelpers)

install(TARGETS kestrune kestrune_headers EXPORT KestruneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY include/kestrune DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_BINARY_DIR}/include/kestrune/version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrune)

set(KESTRUNE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrune)
install(EXPORT KestruneTargets NAMESPACE Kestrune:: DESTINATION ${KESTRUNE_CMAKE_DIR})
configure_package_config_file(cmake/KestruneConfig.cmake.in ${CMAKE_BINARY_DIR}/KestruneConfig.cmake
  INSTALL_DESTINATION ${KESTRUNE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KestruneConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KestruneConfig.cmake ${CMAKE_BINARY_DIR}/KestruneConfigVersion.cmake
  DESTINATION ${KESTRUNE_CMAKE_DIR})

configure_file(cmake/kestrune.pc.in ${CMAKE_BINARY_DIR}/kestrune.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kestrune.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VENDOR "Kestrune")
set(CPACK_PACKAGE_CONTACT "Kestrune maintainers <maintainers@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Exact x2 enlargement and crisp reduction of raster images")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrune enlarges images by exactly two with an iterative sharpness enhancement and reduces them crisply\n"
    "after searching for the best sub-pixel shift. The package holds the desktop program, the command-line\n"
    "tool kestrune-cli and the library with its headers, CMake package and pkg-config file.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The run-time dependencies are read off the binaries by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_GENERATOR DEB)
include(CPack)
