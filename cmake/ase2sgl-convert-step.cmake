# SPDX-License-Identifier: MIT
# One conversion step of ase2sgl_convert(), run as `cmake -P` so that it needs no
# compiler and behaves alike on every host:
#
#   cmake -DINPUT=a.ase -DOUTPUT=a.sgl -DSTATUS=file -DMODE=check|plain|tolerant
#         -DCONVERTER=ase2sgl [-DSGLTOOL=sgltool] -P ase2sgl-convert-step.cmake
#
# MODE check asks `sgltool lint --json` first and stops when a mesh of the file
# would not become an object of its own (a "loss" finding: another exporter's
# layout, UTF-16 text...), before anything is written. MODE tolerant converts with
# `sgltool convert INPUT OUTPUT` (the tolerant reader), plain and check with the
# converter itself. The programs' console lines are kept and shown only when the
# step fails, as one line with the reason; a successful step prints nothing.
#
# A script run with `cmake -P` cannot end with a failure status without CMake
# adding its own "CMake Error at..." lines, so the verdict travels in STATUS: the
# file exists after a successful step only, and the step's next command
# (`cmake -E compare_files STATUS STATUS`) fails, silently, when it is missing.
cmake_minimum_required(VERSION 3.25)

# Console text of a program as one line: line breaks become "; ".
function(one_line text out)
  string(STRIP "${text}" text)
  string(REGEX REPLACE "[\r\n]+[ \t]*" "; " text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The first loss sgltool lint --json reports, as "INPUT:LINE: message", or the
# refusal, in `out`.
function(first_loss json out)
  string(JSON refused ERROR_VARIABLE error GET "${json}" files 0 refused)
  if(error)
    set(${out} "${INPUT}: sgltool lint gave no report" PARENT_SCOPE)
    return()
  endif()
  if(refused)
    string(JSON refusal GET "${json}" files 0 refusal)
    set(${out} "${INPUT}: ase2sgl refuses it: ${refusal}" PARENT_SCOPE)
    return()
  endif()
  string(JSON meshes GET "${json}" files 0 meshes)
  string(JSON own GET "${json}" files 0 ownObjects)
  math(EXPR lost "${meshes} - ${own}")
  set(summary "${lost} of ${meshes} meshes would not become objects of their own")
  string(JSON count LENGTH "${json}" files 0 findings)
  set(index 0)
  while(index LESS count)
    string(JSON severity GET "${json}" files 0 findings ${index} severity)
    if(severity STREQUAL "loss")
      string(JSON line GET "${json}" files 0 findings ${index} line)
      string(JSON message GET "${json}" files 0 findings ${index} message)
      # Line 0 stands for the whole file.
      set(where "${INPUT}:${line}")
      if(line EQUAL 0)
        set(where "${INPUT}")
      endif()
      set(${out} "${where}: ${message} (${summary}; see sgltool lint, or convert with TOLERANT)" PARENT_SCOPE)
      return()
    endif()
    math(EXPR index "${index} + 1")
  endwhile()
  set(${out} "${INPUT}: ${summary} (see sgltool lint, or convert with TOLERANT)" PARENT_SCOPE)
endfunction()

# Runs a program; on failure prints its console lines as one line after `prefix`
# and stops the step (STATUS stays absent).
macro(run_or_stop prefix)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE console ERROR_VARIABLE console)
  if(NOT status EQUAL 0)
    one_line("${console}" console)
    if(console STREQUAL "")
      set(console "exit status ${status}")
    endif()
    message(NOTICE "${prefix}${console}")
    return()
  endif()
endmacro()

file(REMOVE "${STATUS}")
if(NOT EXISTS "${INPUT}" OR IS_DIRECTORY "${INPUT}")
  message(NOTICE "${INPUT}: no such ASE file")
  return()
endif()

if(MODE STREQUAL "check")
  execute_process(COMMAND "${SGLTOOL}" lint --json "${INPUT}" RESULT_VARIABLE status OUTPUT_VARIABLE json
                  ERROR_VARIABLE console)
  if(status EQUAL 1)
    first_loss("${json}" reason)
    message(NOTICE "${reason}")
    return()
  elseif(NOT status EQUAL 0)
    one_line("${console}" console)
    message(NOTICE "${INPUT}: sgltool lint failed: ${console}")
    return()
  endif()
endif()

cmake_path(GET OUTPUT PARENT_PATH folder)
file(MAKE_DIRECTORY "${folder}")
if(MODE STREQUAL "tolerant")
  run_or_stop("" "${SGLTOOL}" convert "${INPUT}" "${OUTPUT}")
else()
  run_or_stop("" "${CONVERTER}" "${INPUT}" "${OUTPUT}")
endif()
file(WRITE "${STATUS}" "converted\n")
