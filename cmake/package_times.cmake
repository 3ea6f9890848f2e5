# SPDX-License-Identifier: MIT
# The same package bytes from every packaging of one commit: every time inside the
# archives cpack writes (the .deb's ar headers and tar entries, the Windows zip's
# entries) is SOURCE_DATE_EPOCH, which cpack honours. cmake/cpack_times.cmake, run by
# cpack before it packs, takes it from the environment when it is set there, else
# from the time of the source tree's last commit, else from the release date below
# (a source tree without git). The .deb files are owned by root and listed by name
# whoever packs them.

# The release date, seconds since 1970 (UTC): the Debian changelog's date line is
# written from it.
set(ASE2SGL_RELEASE_EPOCH 1796850000)

# The changelog's date in its own form (RFC 5322), formatted from the release date
# through the variable that string(TIMESTAMP) reads.
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${ASE2SGL_RELEASE_EPOCH})
string(TIMESTAMP ASE2SGL_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
if(saved_epoch STREQUAL "")
  unset(ENV{SOURCE_DATE_EPOCH})
endif()

# CPack hands its CPACK_ variables to the script it runs.
set(CPACK_ASE2SGL_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_ASE2SGL_RELEASE_EPOCH ${ASE2SGL_RELEASE_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/cpack_times.cmake")
# Folders in the packages get the same permissions whatever the packer's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
