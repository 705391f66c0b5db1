# The folders of src/ are layers: a folder may include its own headers and
# those of the floors below it, never a folder above it or beside it on its
# own floor, so that no two folders include each other. Run at configure time
# and, as the target check_layers, at every build:
#   cmake -DTWINMERE_SOURCE_DIR=<src> -P cmake/CheckLayers.cmake
# The floors, lowest first, separated by "|"; folders that share a floor are
# separated by ",".
set(floors_text "platform|base|fs|report,settings|engine|app|cli,widgets|dialogs|ui")
string(REPLACE "|" ";" floors "${floors_text}")

function(twinmere_floor_of folder out)
  set(number 0)
  foreach(floor IN LISTS floors)
    string(REPLACE "," "|" members "${floor}")
    if(folder MATCHES "^(${members})$")
      set(${out} ${number} PARENT_SCOPE)
      return()
    endif()
    math(EXPR number "${number} + 1")
  endforeach()
  set(${out} -1 PARENT_SCOPE)
endfunction()

file(GLOB folders RELATIVE ${TWINMERE_SOURCE_DIR} ${TWINMERE_SOURCE_DIR}/*)
set(faults "")
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY ${TWINMERE_SOURCE_DIR}/${folder})
    continue()
  endif()
  twinmere_floor_of(${folder} own)
  if(own EQUAL -1)
    string(APPEND faults "\n  src/${folder}/ is on no floor of cmake/CheckLayers.cmake")
    continue()
  endif()
  file(GLOB_RECURSE sources ${TWINMERE_SOURCE_DIR}/${folder}/*.h
       ${TWINMERE_SOURCE_DIR}/${folder}/*.cc ${TWINMERE_SOURCE_DIR}/${folder}/*.in)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^#include \"[a-z_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" used "${line}")
      if(used STREQUAL folder)
        continue()
      endif()
      twinmere_floor_of(${used} floor)
      if(floor EQUAL -1 OR NOT floor LESS own)
        file(RELATIVE_PATH shown ${TWINMERE_SOURCE_DIR}/.. ${source})
        string(APPEND faults "\n  ${shown}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "Includes that run up or across the layers of src/ "
                      "(${floors_text}, lowest floor first):${faults}")
endif()
