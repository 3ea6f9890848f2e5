# SPDX-License-Identifier: MIT
# Run by cpack after it writes the Windows archive (CPACK_POST_BUILD_SCRIPTS): the
# zip rewritten in name order, without owners, at SOURCE_DATE_EPOCH
# (cmake/reproducible_zip.py), so that any packer on any machine gets its bytes.
find_program(ASE2SGL_PYTHON3 python3)
if(NOT ASE2SGL_PYTHON3)
  message(WARNING "python3 not found: the zip keeps the packer's user id and the file system's order")
  return()
endif()
foreach(archive IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${ASE2SGL_PYTHON3}" "${CPACK_ASE2SGL_SOURCE_DIR}/cmake/reproducible_zip.py" "${archive}"
                          "$ENV{SOURCE_DATE_EPOCH}"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not rewrite ${archive} (${status})")
  endif()
endforeach()
