# The folders of src/ are layers: a folder may include its own headers and
# those of the floors below it, never a folder above it or beside it on its
# own floor, so that no two folders include each other. The system's own
# headers (unistd.h, sys/*, ...) are included only in src/platform, which
# puts each service of the system behind a header of its own, and in the
# folders of the desktop program: elsewhere only the C++ standard library
# and the chosen libraries' headers are. Run at configure time and, as the
# target check_layers, at every build:
#   cmake -DTWINMERE_SOURCE_DIR=<src> -P cmake/CheckLayers.cmake
# The floors, lowest first, separated by "|"; folders that share a floor are
# separated by ",".
cmake_policy(SET CMP0057 NEW)  # if(... IN_LIST ...) when run as a script
set(floors_text "platform,base|fs,report|settings,engine|app|cli,widgets|dialogs|ui")
# The folders that may include any header of the system.
set(system_folders platform widgets dialogs ui)
# The headers of the C++ standard library (C++20, and of C++23 what this
# compiler has), the C library's among them in their <c...> form.
set(standard_headers
  algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv
  chrono cinttypes climits clocale cmath codecvt compare complex concepts condition_variable
  coroutine csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar
  cwctype deque exception execution expected filesystem format forward_list fstream functional
  future initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale
  map memory memory_resource mutex new numbers numeric optional ostream queue random ranges ratio
  regex scoped_allocator semaphore set shared_mutex source_location span spanstream sstream stack
  stacktrace stdexcept stop_token streambuf string string_view syncstream system_error thread
  tuple type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant
  vector version)
# The chosen libraries (JSON, SQLite, the test and benchmark frameworks);
# Qt only in the folders of the desktop program, which include anything.
set(library_headers "^(nlohmann|gtest|gmock|benchmark)/|^sqlite3\\.h$")

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
set(system_faults "")
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
    if(folder IN_LIST system_folders)
      continue()
    endif()
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*<")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*<([^>]*)>.*" "\\1" header "${line}")
      if(NOT header IN_LIST standard_headers AND NOT header MATCHES "${library_headers}")
        file(RELATIVE_PATH shown ${TWINMERE_SOURCE_DIR}/.. ${source})
        string(APPEND system_faults "\n  ${shown}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
set(report "")
if(faults)
  string(APPEND report "Includes that run up or across the layers of src/ "
                       "(${floors_text}, lowest floor first):${faults}\n")
endif()
if(system_faults)
  string(APPEND report "Headers of the system included outside src/platform and the desktop "
                       "program's folders (put the call behind a header of src/platform):"
                       "${system_faults}\n")
endif()
if(report)
  message(FATAL_ERROR "${report}")
endif()
