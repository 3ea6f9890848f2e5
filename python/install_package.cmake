# SPDX-License-Identifier: MIT
# Installs the Python package (the compiled module and __init__.py) where the
# target Python looks for packages under the prefix given to the installation
# (python/install_dir.py), or in ASE2SGL_PYTHON_INSTALL_DIR below it when set.
# Run by `cmake --install` with ASE2SGL_PYTHON_EXE, ASE2SGL_PYTHON_MODULE,
# ASE2SGL_PYTHON_INIT, ASE2SGL_PYTHON_DIR and ASE2SGL_STRIP set.
set(folder "${ASE2SGL_PYTHON_DIR}")
if(NOT folder)
  execute_process(COMMAND "${ASE2SGL_PYTHON_EXE}" "${CMAKE_CURRENT_LIST_DIR}/install_dir.py" "${CMAKE_INSTALL_PREFIX}"
                  OUTPUT_VARIABLE folder OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
set(destination "${CMAKE_INSTALL_PREFIX}/${folder}/ase2sgl")
file(INSTALL DESTINATION "${destination}" TYPE FILE FILES "${ASE2SGL_PYTHON_INIT}")
file(INSTALL DESTINATION "${destination}" TYPE MODULE FILES "${ASE2SGL_PYTHON_MODULE}")
cmake_path(GET ASE2SGL_PYTHON_MODULE FILENAME module)
if(CMAKE_INSTALL_DO_STRIP AND ASE2SGL_STRIP)
  execute_process(COMMAND "${ASE2SGL_STRIP}" --strip-unneeded "$ENV{DESTDIR}${destination}/${module}"
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
