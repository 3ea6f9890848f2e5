# SPDX-License-Identifier: MIT
# Installation and packaging: the programs, the libraries with their public
# headers, the manual pages, a CMake package (find_package(ase2sgl)) and the
# Debian packages (cpack -G DEB, cmake/debian.cmake).
# On Debian and its kin libraries go to the multiarch folder (lib/x86_64-linux-gnu),
# whatever the prefix.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CMAKE_INSTALL_LIBDIR AND EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries (lib)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The CMake package goes to lib/cmake, not the multiarch folder: a project without
# a compiler (project(x NONE)) knows no architecture, and find_package looks in
# lib/<multiarch>/cmake only when it does.
set(ASE2SGL_CMAKE_DIR "lib/cmake/ase2sgl")
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
foreach(library ase2sgl_reader ase2sgl_platform ase2sgl_converter ase2sgl_tolerant ase2sgl_normalize ase2sgl_lint ase2sgl_cli
                ase2sgl_tools)
  if(TARGET ${library})
    set_target_properties(${library} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
endforeach()

# The Debian packages take their files by component: converter (ase2sgl),
# sgltool, development (libase2sgl-dev) and python (python3-ase2sgl).
list(REMOVE_ITEM exported ase2sgl sgltool)
install(TARGETS ase2sgl EXPORT ase2sgl-targets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT converter)
if(TARGET sgltool)
  install(TARGETS sgltool EXPORT ase2sgl-targets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sgltool)
endif()
install(TARGETS ${exported} EXPORT ase2sgl-targets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(EXPORT ase2sgl-targets NAMESPACE ase2sgl:: DESTINATION ${ASE2SGL_CMAKE_DIR} COMPONENT development)

configure_package_config_file(cmake/ase2sgl-config.cmake.in ${PROJECT_BINARY_DIR}/ase2sgl-config.cmake
                              INSTALL_DESTINATION ${ASE2SGL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ase2sgl-config-version.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ase2sgl-config.cmake ${PROJECT_BINARY_DIR}/ase2sgl-config-version.cmake
              cmake/ase2sgl-convert.cmake cmake/ase2sgl-convert-step.cmake
        DESTINATION ${ASE2SGL_CMAKE_DIR} COMPONENT development)
# The JSON Schemas of sgltool's reports, for the consumers that check them.
install(FILES tools/sgltool-info.schema.json tools/sgltool-lint.schema.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/ase2sgl/schemas COMPONENT development)

# Manual pages, compressed as Debian installs them when gzip is at hand.
find_program(ASE2SGL_GZIP gzip)
function(ase2sgl_install_man page section component)
  set(source "${PROJECT_SOURCE_DIR}/man/${page}")
  if(ASE2SGL_GZIP)
    set(compressed "${PROJECT_BINARY_DIR}/man/${page}.gz")
    add_custom_command(OUTPUT "${compressed}" COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/man"
                       COMMAND "${ASE2SGL_GZIP}" -9 -n -c "${source}" > "${compressed}"
                       DEPENDS "${source}" VERBATIM)
    add_custom_target(man_${page} ALL DEPENDS "${compressed}")
    set(source "${compressed}")
  endif()
  install(FILES "${source}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()
ase2sgl_install_man(ase2sgl.1 1 converter)
ase2sgl_install_man(sgl.5 5 converter)
if(TARGET sgltool)
  ase2sgl_install_man(sgltool.1 1 sgltool)
endif()

include(cmake/debian.cmake)
