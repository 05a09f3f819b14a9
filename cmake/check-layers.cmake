# Checks that the layers run one way: no header or source of a lower layer
# includes a header of a higher one.
#
#   cmake -DROOT=<source tree> -P cmake/check-layers.cmake
#
# Every #include "..." of every file in the layers' folders is resolved the
# way the compiler finds it: beside the including file first, then in the
# folders the targets put on the include path (interface/, musicxml/,
# midiwriter/, reports/). The folder the header lies in gives its layer;
# a file may include its own layer and any below it. The two public headers
# (interface/vastrel.h, score_model.h) hold the records of the model and
# the exception, and every layer may include them. An include that resolves
# to nothing inside the tree is reported too, so that no include escapes
# the check. Prints every offence, "layers: N files, M includes, all one
# way" otherwise. Folders above every layer (tests, bench, fuzz, the
# resources' data) are not checked.

cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check-layers.cmake")
endif()

# Lowest first; folders of one rank may include each other.
set(layer_platform 0)
set(layer_resources 0)    # the string table's data, read by the platform
set(layer_core 1)
set(layer_smf 2)
set(layer_track 3)
set(layer_notation 4)
set(layer_position 5)
set(layer_interface 6)
set(layer_musicxml 7)
set(layer_midiwriter 7)   # the MIDI writer: reads nothing of the library
set(layer_reports 8)
set(layer_tools 9)
set(layer_wasm 9)
set(layers platform core smf track notation position interface musicxml midiwriter reports tools wasm)
set(include_path interface musicxml midiwriter reports)
set(public_headers interface/vastrel.h interface/score_model.h)

set(offences "")
set(nfiles 0)
set(nincludes 0)
foreach(folder ${layers})
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(source ${sources})
    math(EXPR nfiles "${nfiles} + 1")
    get_filename_component(dir ${source} DIRECTORY)
    file(STRINGS ${ROOT}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" name "${line}")
      math(EXPR nincludes "${nincludes} + 1")
      # Beside the including file, then on the include path.
      set(target "")
      foreach(candidate ${dir} ${include_path})
        get_filename_component(path ${ROOT}/${candidate}/${name} ABSOLUTE)
        if(EXISTS ${path} AND NOT IS_DIRECTORY ${path})
          file(RELATIVE_PATH target ${ROOT} ${path})
          break()
        endif()
      endforeach()
      if(target STREQUAL "")
        string(APPEND offences "  ${source} includes \"${name}\", which is not in the tree\n")
        continue()
      endif()
      if(target IN_LIST public_headers)
        continue()
      endif()
      string(REGEX REPLACE "/.*" "" to ${target})
      string(REGEX REPLACE "/.*" "" from ${source})
      if(NOT DEFINED layer_${to})
        string(APPEND offences "  ${source} includes ${target}, outside every layer\n")
      elseif(layer_${to} GREATER layer_${from})
        string(APPEND offences "  ${source} (${from}) includes ${target} (${to}, a higher layer)\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(offences)
  message(FATAL_ERROR "layers: includes that run upwards or out of the tree:\n${offences}")
endif()
message(STATUS "layers: ${nfiles} files, ${nincludes} includes, all one way")
