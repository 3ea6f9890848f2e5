# SPDX-License-Identifier: MIT
# Installation and packaging: the programs, the libraries with their public
# headers, the manual pages, a CMake package (find_package(ase2sgl)) and a Debian
# package (cpack -G DEB).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ASE2SGL_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/ase2sgl")
set(ASE2SGL_HEADER_DIR "${CMAKE_INSTALL_INCLUDEDIR}/ase2sgl")

# Library targets as other projects see them, each with the headers that make up
# its interface. Installed headers live under one folder of the project's name,
# so that a consumer's own platform/ or common/ headers cannot collide with them:
# code includes "ase2sgl/bundle/bundle_reader.h".
set(ASE2SGL_INSTALLED_LIBRARIES ase2sgl_converter converter ase2sgl_reader reader ase2sgl_platform platform)
set(ASE2SGL_HEADERS_ase2sgl_converter conversion/convert.h common/conversion_error.h)
set(ASE2SGL_HEADERS_ase2sgl_reader bundle/bundle_reader.h)
# The converter's error type takes its message words from here.
set(ASE2SGL_HEADERS_ase2sgl_platform platform/error_text.h)

set(exported ase2sgl)
while(ASE2SGL_INSTALLED_LIBRARIES)
  list(POP_FRONT ASE2SGL_INSTALLED_LIBRARIES target name)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
  # In the build the headers are found in the source tree; installed, in the
  # include folder.
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
    "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>;$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
  foreach(header IN LISTS ASE2SGL_HEADERS_${target})
    cmake_path(GET header PARENT_PATH folder)
    install(FILES ${header} DESTINATION ${ASE2SGL_HEADER_DIR}/${folder} COMPONENT development)
  endforeach()
  list(APPEND exported ${target})
endwhile()
# Static libraries carry their private link dependencies along: the warning flags
# target goes with them (it adds nothing to what a consumer compiles).
list(APPEND exported ase2sgl_warnings)
set_target_properties(ase2sgl PROPERTIES EXPORT_NAME ase2sgl)
# sgltool: the build steps of ase2sgl_convert() run its lint and its tolerant
# conversion.
if(TARGET sgltool)
  set_target_properties(sgltool PROPERTIES EXPORT_NAME sgltool)
  list(APPEND exported sgltool)
endif()

# Every static library is position-independent, so that it links into a shared
# library (an editor plugin, the Python module) as well as into a program.
foreach(library ase2sgl_reader ase2sgl_platform ase2sgl_converter ase2sgl_normalize ase2sgl_lint ase2sgl_cli
                ase2sgl_tools)
  if(TARGET ${library})
    set_target_properties(${library} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
endforeach()

install(TARGETS ${exported} EXPORT ase2sgl-targets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT ase2sgl-targets NAMESPACE ase2sgl:: DESTINATION ${ASE2SGL_CMAKE_DIR})

configure_package_config_file(cmake/ase2sgl-config.cmake.in ${PROJECT_BINARY_DIR}/ase2sgl-config.cmake
                              INSTALL_DESTINATION ${ASE2SGL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ase2sgl-config-version.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ase2sgl-config.cmake ${PROJECT_BINARY_DIR}/ase2sgl-config-version.cmake
              cmake/ase2sgl-convert.cmake cmake/ase2sgl-convert-step.cmake
        DESTINATION ${ASE2SGL_CMAKE_DIR})

install(FILES man/ase2sgl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES man/sgl.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
if(TARGET sgltool)
  install(FILES man/sgltool.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# cpack -G DEB in the build folder. The converter is linked statically; whatever
# else links shared libraries gets its dependencies from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME ase2sgl)
set(CPACK_PACKAGE_VENDOR "ase2sgl developers")
set(CPACK_PACKAGE_CONTACT "ase2sgl developers <ase2sgl@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Converts ASE scenes into mesh bundles (.sgl)")
set(CPACK_PACKAGE_INSTALL_DIRECTORY ase2sgl)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${ASE2SGL_DEB_DEPENDS}")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cmake (>= 3.25), g++")
include(CPack)
