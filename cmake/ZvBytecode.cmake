# zv_add_bytecode(<target> SOURCES src... [OUTPUT_DIRECTORY dir] [ALL])
#
# Compiles each zv program to <stem>.zvbc in OUTPUT_DIRECTORY (default: the current binary
# directory) with `zv build`, and adds the custom target <target> that builds them all
# (part of the default build with ALL). As with `zvc`, a program's `also NAME` reads
# NAME.ZVEX from the directory `zv build` runs in: here the directory of the program. `zv
# build -MD` writes a dependency file naming every included file, so editing an included
# file rebuilds exactly the programs that include it, and a build with nothing changed runs
# nothing. The zv command is the imported target zv::cli, or ZV_EXECUTABLE when set.
#
# A build of N programs runs `zv build` N times and nothing else: the output directory is
# made when the project is configured, and the dependency file names its target as the
# generator does (relative to the top binary directory) and every other path absolutely,
# so that the generator reads it as written. A build stops at the first program that fails
# to compile; `cmake --build . -- -k 0` (Ninja) or `-- -k` (Make) goes on with the others.
if(CMAKE_VERSION VERSION_LESS 3.20)
  message(FATAL_ERROR "zv_add_bytecode needs CMake 3.20 or newer (dependency files)")
endif()

function(zv_add_bytecode target)
  # Ninja reads the dependency file as written (no `cmake -E cmake_transform_depfile` per
  # program); set here only, so that the caller's policies stay as they were.
  cmake_policy(PUSH)
  cmake_policy(SET CMP0116 OLD)
  cmake_parse_arguments(PARSE_ARGV 1 arg "ALL" "OUTPUT_DIRECTORY" "SOURCES")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "zv_add_bytecode: unexpected arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_SOURCES)
    message(FATAL_ERROR "zv_add_bytecode: no SOURCES given for ${target}")
  endif()
  if(DEFINED ZV_EXECUTABLE)
    set(zv ${ZV_EXECUTABLE})
  elseif(TARGET zv::cli)
    set(zv zv::cli)
  else()
    message(FATAL_ERROR "zv_add_bytecode: no zv command (find_package(zv) or set ZV_EXECUTABLE)")
  endif()
  set(outdir ${CMAKE_CURRENT_BINARY_DIR})
  if(arg_OUTPUT_DIRECTORY)
    get_filename_component(outdir ${arg_OUTPUT_DIRECTORY} ABSOLUTE
                           BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  file(MAKE_DIRECTORY ${outdir})
  set(outputs)
  foreach(source IN LISTS arg_SOURCES)
    get_filename_component(source ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    get_filename_component(sourcedir ${source} DIRECTORY)
    # The stem as zvc takes it: the name without its last extension.
    get_filename_component(stem ${source} NAME_WLE)
    set(output ${outdir}/${stem}.zvbc)
    if(output IN_LIST outputs)
      message(FATAL_ERROR "zv_add_bytecode: two sources of ${target} make ${output}")
    endif()
    # The target as the generator names the output: relative to the top binary directory.
    file(RELATIVE_PATH deptarget ${CMAKE_BINARY_DIR} ${output})
    add_custom_command(OUTPUT ${output}
      COMMAND ${zv} build -q -o ${output} -MD -MF ${output}.d -MT ${deptarget} --absolute-deps
              ${source}
      DEPENDS ${source}
      DEPFILE ${output}.d
      WORKING_DIRECTORY ${sourcedir}
      COMMENT "Compiling zv program ${stem}"
      VERBATIM)
    list(APPEND outputs ${output})
  endforeach()
  set(all)
  if(arg_ALL)
    set(all ALL)
  endif()
  add_custom_target(${target} ${all} DEPENDS ${outputs})
  set_target_properties(${target} PROPERTIES ZV_BYTECODE_FILES "${outputs}")
  cmake_policy(POP)
endfunction()
