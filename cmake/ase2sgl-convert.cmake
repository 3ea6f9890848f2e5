# ase2sgl_convert(TARGET name SOURCES a.ase ... [OUTPUT_DIR dir])
#
# One build step per ASE file: the file (and the converter) as dependency, the
# bundle OUTPUT_DIR/<name>.sgl as output, so Make or Ninja convert only what
# changed, as many at a time as they run jobs. The converter writes each bundle
# whole or not at all: a failed step fails the build and leaves no new output, so
# the step runs again on the next build. TARGET is a custom target, part of ALL,
# that depends on every bundle; its property ASE2SGL_OUTPUTS lists them.
#
# Relative SOURCES are taken from the current source folder, a relative
# OUTPUT_DIR from the current build folder (the default).
function(ase2sgl_convert)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;OUTPUT_DIR" "SOURCES")
  if(NOT arg_TARGET)
    message(FATAL_ERROR "ase2sgl_convert: TARGET is required")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "ase2sgl_convert: unexpected arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(outputDir "${CMAKE_CURRENT_BINARY_DIR}")
  if(arg_OUTPUT_DIR)
    cmake_path(ABSOLUTE_PATH arg_OUTPUT_DIR BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE
               OUTPUT_VARIABLE outputDir)
  endif()
  file(MAKE_DIRECTORY "${outputDir}")

  set(outputs "")
  foreach(source IN LISTS arg_SOURCES)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE OUTPUT_VARIABLE input)
    cmake_path(GET input STEM LAST_ONLY stem)
    set(output "${outputDir}/${stem}.sgl")
    if(output IN_LIST outputs)
      message(FATAL_ERROR "ase2sgl_convert: two sources would both write ${output}")
    endif()
    add_custom_command(OUTPUT "${output}"
                       COMMAND ase2sgl::ase2sgl "${input}" "${output}"
                       DEPENDS "${input}" ase2sgl::ase2sgl
                       COMMENT "Converting ${source}"
                       VERBATIM)
    list(APPEND outputs "${output}")
  endforeach()
  add_custom_target(${arg_TARGET} ALL DEPENDS ${outputs})
  set_property(TARGET ${arg_TARGET} PROPERTY ASE2SGL_OUTPUTS "${outputs}")
endfunction()
