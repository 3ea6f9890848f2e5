# SPDX-License-Identifier: MIT
# ase2sgl_convert(TARGET name SOURCES a.ase ...
#                 [OUTPUT_DIR dir] [BASE_DIR dir] [OUTPUTS variable]
#                 [CHECK ON|OFF] [TOLERANT] [EXCLUDE_FROM_ALL])
#
# One build step per ASE file: the file (and the programs) as dependency, the
# bundle as output, so Make or Ninja convert only what changed, as many at a time
# as they run jobs. TARGET is a custom target that depends on every bundle (part
# of ALL unless EXCLUDE_FROM_ALL); its property ASE2SGL_OUTPUTS and the variable
# named by OUTPUTS list them.
#
# Where bundles go: OUTPUT_DIR/<stem>.sgl, or with BASE_DIR the source's folder
# relative to BASE_DIR kept below OUTPUT_DIR (models/crates/a.ase with BASE_DIR
# models gives OUTPUT_DIR/crates/a.sgl). Relative SOURCES and BASE_DIR are taken
# from the current source folder, a relative OUTPUT_DIR from the current build
# folder (the default). Output folders are made by the steps themselves, so a
# removed output folder is made again by the next build.
#
# What a step does:
#   CHECK ON (default)  sgltool lint reads the file first; when a mesh of it would
#                       not become an object of its own (another exporter's
#                       layout, UTF-16 text), the step fails with one line naming
#                       the file, the line and the reason, and writes nothing.
#                       Otherwise ase2sgl converts: the same bytes as without it.
#   CHECK OFF           ase2sgl converts, whatever it makes of the file.
#   TOLERANT            sgltool convert reads every exporter's layout and converts
#                       (CHECK does not apply: nothing is lost to check for).
# A step prints nothing when it succeeds; when it fails, one line with the reason.
# Either way the converter writes each bundle whole or not at all: a failed step
# leaves no new output, so it runs again on the next build.

set(_ASE2SGL_STEP_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/ase2sgl-convert-step.cmake")

# Generator expressions are evaluated only at build time, after the paths of the
# outputs (and so the build's dependency graph) have been fixed: refused.
function(_ase2sgl_refuse_genex what value)
  if(value MATCHES [[\$<]])
    message(FATAL_ERROR "ase2sgl_convert: ${what} may not hold generator expressions "
                        "(output paths are fixed when CMake configures): ${value}")
  endif()
endfunction()

# The bundle path for one ASE file, in `out`.
function(_ase2sgl_output_path input outputDir baseDir out)
  if(baseDir)
    cmake_path(IS_PREFIX baseDir "${input}" NORMALIZE inside)
    if(NOT inside)
      message(FATAL_ERROR "ase2sgl_convert: ${input} is not under BASE_DIR ${baseDir}")
    endif()
    cmake_path(RELATIVE_PATH input BASE_DIRECTORY "${baseDir}" OUTPUT_VARIABLE relative)
    cmake_path(REPLACE_EXTENSION relative LAST_ONLY sgl)
    set(${out} "${outputDir}/${relative}" PARENT_SCOPE)
  else()
    cmake_path(GET input STEM LAST_ONLY stem)
    set(${out} "${outputDir}/${stem}.sgl" PARENT_SCOPE)
  endif()
endfunction()

# The programs a step runs and its mode, in variables prefixed `out`.
function(_ase2sgl_step_mode check tolerant out)
  set(mode plain)
  if(tolerant)
    set(mode tolerant)
  elseif(check)
    set(mode check)
  endif()
  if(NOT mode STREQUAL "plain" AND NOT TARGET ase2sgl::sgltool)
    message(FATAL_ERROR "ase2sgl_convert: ${mode} needs sgltool, which this ase2sgl was built without "
                        "(build it, or pass CHECK OFF)")
  endif()
  set(${out}_mode ${mode} PARENT_SCOPE)
endfunction()

function(ase2sgl_convert)
  cmake_parse_arguments(PARSE_ARGV 0 arg "TOLERANT;EXCLUDE_FROM_ALL" "TARGET;OUTPUT_DIR;BASE_DIR;OUTPUTS;CHECK"
                        "SOURCES")
  if(NOT arg_TARGET)
    message(FATAL_ERROR "ase2sgl_convert: TARGET is required")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "ase2sgl_convert: unexpected arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT DEFINED arg_CHECK)
    set(arg_CHECK ON)
  endif()
  _ase2sgl_step_mode("${arg_CHECK}" "${arg_TOLERANT}" step)
  _ase2sgl_refuse_genex(OUTPUT_DIR "${arg_OUTPUT_DIR}")
  _ase2sgl_refuse_genex(BASE_DIR "${arg_BASE_DIR}")
  _ase2sgl_refuse_genex(SOURCES "${arg_SOURCES}")

  set(outputDir "${CMAKE_CURRENT_BINARY_DIR}")
  if(arg_OUTPUT_DIR)
    cmake_path(ABSOLUTE_PATH arg_OUTPUT_DIR BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE
               OUTPUT_VARIABLE outputDir)
  endif()
  set(baseDir "")
  if(arg_BASE_DIR)
    cmake_path(ABSOLUTE_PATH arg_BASE_DIR BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE
               OUTPUT_VARIABLE baseDir)
  endif()
  set(programs ase2sgl::ase2sgl)
  set(tool "")
  if(NOT step_mode STREQUAL "plain")
    list(APPEND programs ase2sgl::sgltool)
    set(tool "-DSGLTOOL=$<TARGET_FILE:ase2sgl::sgltool>")
  endif()
  # Each step's verdict (see ase2sgl-convert-step.cmake), kept out of the outputs.
  set(statusDir "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${arg_TARGET}.ase2sgl")

  set(outputs "")
  set(index 0)
  foreach(source IN LISTS arg_SOURCES)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE OUTPUT_VARIABLE input)
    _ase2sgl_output_path("${input}" "${outputDir}" "${baseDir}" output)
    if(output IN_LIST outputs)
      message(FATAL_ERROR "ase2sgl_convert: two sources would both write ${output} "
                          "(BASE_DIR keeps the sources' folders apart)")
    endif()
    math(EXPR index "${index} + 1")
    set(status "${statusDir}/${index}.done")
    add_custom_command(OUTPUT "${output}"
                       COMMAND "${CMAKE_COMMAND}" "-DINPUT=${input}" "-DOUTPUT=${output}" "-DSTATUS=${status}"
                               "-DMODE=${step_mode}" "-DCONVERTER=$<TARGET_FILE:ase2sgl::ase2sgl>"
                               ${tool}
                               -P "${_ASE2SGL_STEP_SCRIPT}"
                       COMMAND "${CMAKE_COMMAND}" -E compare_files "${status}" "${status}"
                       DEPENDS "${input}" ${programs} "${_ASE2SGL_STEP_SCRIPT}"
                       COMMENT "Converting ${source}"
                       VERBATIM)
    list(APPEND outputs "${output}")
  endforeach()
  set(all ALL)
  if(arg_EXCLUDE_FROM_ALL)
    set(all "")
  endif()
  add_custom_target(${arg_TARGET} ${all} DEPENDS ${outputs})
  set_property(TARGET ${arg_TARGET} PROPERTY ASE2SGL_OUTPUTS "${outputs}")
  if(arg_OUTPUTS)
    set(${arg_OUTPUTS} "${outputs}" PARENT_SCOPE)
  endif()
endfunction()
