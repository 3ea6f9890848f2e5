# SPDX-License-Identifier: MIT
# The Debian packages, made with `cpack -G DEB` in the build folder, split as
# Debian splits a tool with a library:
#   ase2sgl          the converter alone (linked statically: no dependency)
#   sgltool          lint, tolerant conversion, info/check/diff/export/render
#   libase2sgl-dev   static libraries, headers, the CMake package, JSON Schemas
#   python3-ase2sgl  the Python module
# Each carries its copyright file and changelog in /usr/share/doc/<package>/;
# shared library dependencies come from dpkg-shlibdeps.
set(ASE2SGL_DEB_MAINTAINER "the ase2sgl authors <ase2sgl@users.noreply.github.com>" CACHE STRING
    "Maintainer field of the Debian packages: name <address>")

# The components that this build has, with their package names.
set(ASE2SGL_DEB_COMPONENTS converter ase2sgl development libase2sgl-dev)
if(TARGET sgltool)
  list(APPEND ASE2SGL_DEB_COMPONENTS sgltool sgltool)
endif()
if(TARGET ase2sgl_python)
  list(APPEND ASE2SGL_DEB_COMPONENTS python python3-ase2sgl)
endif()

configure_file(packaging/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
set(ASE2SGL_DEB_CHANGELOG "${PROJECT_BINARY_DIR}/debian/changelog")
if(ASE2SGL_GZIP)
  add_custom_command(OUTPUT "${PROJECT_BINARY_DIR}/debian/changelog.gz"
                     COMMAND "${ASE2SGL_GZIP}" -9 -n -c "${PROJECT_BINARY_DIR}/debian/changelog"
                             > "${PROJECT_BINARY_DIR}/debian/changelog.gz"
                     DEPENDS "${PROJECT_BINARY_DIR}/debian/changelog" VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS "${PROJECT_BINARY_DIR}/debian/changelog.gz")
  set(ASE2SGL_DEB_CHANGELOG "${PROJECT_BINARY_DIR}/debian/changelog.gz")
endif()

set(CPACK_COMPONENTS_ALL "")
set(components ${ASE2SGL_DEB_COMPONENTS})
while(components)
  list(POP_FRONT components component package)
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  string(TOUPPER ${component} COMPONENT)
  set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${COMPONENT}_FILE_NAME DEB-DEFAULT)
  install(FILES packaging/debian/copyright "${ASE2SGL_DEB_CHANGELOG}"
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endwhile()
install(FILES packaging/debian/ase2sgl.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME ase2sgl COMPONENT converter)

set(CPACK_COMPONENT_CONVERTER_DESCRIPTION "converter from ASE scenes to mesh bundles (.sgl)
ase2sgl reads the ASE text a 3D exporter writes and writes a mesh bundle:
each mesh as one object with its name and its triangles' positions,
normals and texture coordinates, ready to load into a game engine.
A bundle is written whole or not at all.")
set(CPACK_COMPONENT_SGLTOOL_DESCRIPTION "tools for ASE files and mesh bundles (.sgl)
sgltool tells before converting what ase2sgl will make of an ASE file
(lint), converts the layouts of other exporters (convert, normalize),
and looks into mesh bundles: info, check, diff, export to glTF and OBJ,
and render to PNG.")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "ASE converter and mesh bundle reader (development files)
The static libraries and headers of ase2sgl: the conversion from ASE to
mesh bundles, and the bundle reader, which depends on the standard
library alone. Also the CMake package (find_package(ase2sgl), with
ase2sgl_convert() for build steps that check their inputs) and the JSON
Schemas of sgltool's reports.")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "ASE converter and mesh bundle reader for Python 3
The ase2sgl module converts ASE scenes into mesh bundles in the calling
process, checks them first with lint, and reads bundles into NumPy
arrays without copying them.")
set(CPACK_DEBIAN_CONVERTER_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_SGLTOOL_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The CMake package names the programs: the development package needs them.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "ase2sgl (= 1.0)")
if(TARGET sgltool)
  string(APPEND CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS ", sgltool (= 1.0)")
endif()
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${ASE2SGL_PYTHON_DEB_DEPENDS}")

set(CPACK_PACKAGE_NAME ase2sgl)
set(CPACK_PACKAGE_VENDOR "the ase2sgl authors")
set(CPACK_PACKAGE_CONTACT "${ASE2SGL_DEB_MAINTAINER}")
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: each description's first line is its synopsis.
set(CPACK_PACKAGE_INSTALL_DIRECTORY ase2sgl)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
