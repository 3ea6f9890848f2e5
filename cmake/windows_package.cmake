# Installation and the release archive on Windows: `cpack -G ZIP` (or
# `cpack --preset windows`) in the build folder gives
# ase2sgl-VERSION-windows-x86_64.zip, one folder holding ase2sgl.exe, sgltool.exe,
# README.md, LICENSE (when the source tree has one) and the manual pages as plain
# text, which Windows has no reader for in their roff form. The programs are
# linked statically: no DLLs, and no libraries or headers, beside them.
install(TARGETS ase2sgl RUNTIME DESTINATION .)
if(TARGET sgltool)
  install(TARGETS sgltool RUNTIME DESTINATION .)
endif()
install(FILES README.md DESTINATION .)
if(EXISTS "${PROJECT_SOURCE_DIR}/LICENSE")
  install(FILES LICENSE DESTINATION .)
endif()

# The manual pages formatted at build time: UTF-8 text without the terminal's bold
# and underlining (-P -cbou) (78 columns).
find_program(ASE2SGL_GROFF groff)
add_custom_target(manual_text ALL)
if(ASE2SGL_GROFF)
  set(pages ase2sgl.1 sgl.5)
  if(TARGET sgltool)
    list(APPEND pages sgltool.1)
  endif()
  set(texts)
  foreach(page IN LISTS pages)
    set(text "${PROJECT_BINARY_DIR}/manual/${page}.txt")
    add_custom_command(OUTPUT "${text}"
                       COMMAND ${CMAKE_COMMAND} -E make_directory "${PROJECT_BINARY_DIR}/manual"
                       COMMAND ${ASE2SGL_GROFF} -man -Tutf8 -P -cbou "${PROJECT_SOURCE_DIR}/man/${page}"
                               > "${text}"
                       DEPENDS "${PROJECT_SOURCE_DIR}/man/${page}"
                       COMMENT "Formatting the manual page ${page} as text" VERBATIM)
    list(APPEND texts "${text}")
  endforeach()
  target_sources(manual_text PRIVATE ${texts})
  install(FILES ${texts} DESTINATION manual)
else()
  message(STATUS "groff not found: the Windows archive will lack the manual pages")
endif()

# The archive takes what the windows build preset built (the programs and the
# manual pages): installing builds nothing more, such as the test suite.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_PACKAGE_NAME ase2sgl)
set(CPACK_PACKAGE_VENDOR "ase2sgl developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Converts ASE scenes into mesh bundles (.sgl)")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME "ase2sgl-${PROJECT_VERSION}-windows-x86_64")
# The same archive bytes from every packing of one commit: entry times are
# SOURCE_DATE_EPOCH (cmake/package_times.cmake), then the entries are put in name
# order without their owners.
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/cpack_zip.cmake")
include(CPack)
