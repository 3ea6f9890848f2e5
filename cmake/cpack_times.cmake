# SPDX-License-Identifier: MIT
# Run by cpack before each package (CPACK_PROJECT_CONFIG_FILE, set in
# cmake/package_times.cmake): the time written into the archives, SOURCE_DATE_EPOCH,
# is the environment's when set, else the last commit's, else the release date.
if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(epoch "")
  find_program(ASE2SGL_GIT git)
  if(ASE2SGL_GIT AND EXISTS "${CPACK_ASE2SGL_SOURCE_DIR}/.git")
    # Read by whoever packs, also when another user owns the checkout.
    execute_process(COMMAND "${ASE2SGL_GIT}" -c "safe.directory=${CPACK_ASE2SGL_SOURCE_DIR}"
                            -C "${CPACK_ASE2SGL_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    set(epoch ${CPACK_ASE2SGL_RELEASE_EPOCH})
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
