# Tests of the flat interface that are not GoogleTest cases: start-up under chosen code
# pages in fresh processes, a C client, a Python ctypes client and the mimeengine program.
set(flat_dir ${CMAKE_CURRENT_LIST_DIR})

# Start-up: each code page in a process of its own, chosen through MIMEENGINE_ACP.
add_executable(flat_acp_probe ${flat_dir}/probe/acp_probe.cpp)
target_link_libraries(flat_acp_probe PRIVATE mimeengine_internal)
target_compile_options(flat_acp_probe PRIVATE ${MIMEENGINE_WARNINGS})
foreach(row "932;iso-2022-jp;1;=?iso-2022-jp?B?YWJj?=" "1252;iso-8859-1;0;abc" "437;US-ASCII;0;abc"
            "51932;euc-jp;1;=?euc-jp?B?YWJj?=")
  list(GET row 0 codepage)
  list(GET row 1 charset)
  list(GET row 2 flag)
  list(GET row 3 encoded)
  add_test(NAME flat.startup_codepage_${codepage} COMMAND flat_acp_probe ${charset} ${flag} ${encoded})
  set_tests_properties(flat.startup_codepage_${codepage} PROPERTIES ENVIRONMENT "MIMEENGINE_ACP=${codepage}")
endforeach()

# A client written in C, compiled as C, linked to the shared library.
add_executable(flat_c_client ${flat_dir}/c_client.c)
set_target_properties(flat_c_client PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_link_libraries(flat_c_client PRIVATE mimeengine)
target_compile_options(flat_c_client PRIVATE -Wall -Wextra -pedantic -Werror)
add_test(NAME flat.c_client COMMAND flat_c_client)

find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  # Python loads the library with ctypes. A library built with AddressSanitizer needs its
  # runtime loaded first into the (uninstrumented) interpreter, and the interpreter's own
  # allocations are not ours to check for leaks.
  add_test(NAME flat.python_ctypes
           COMMAND ${Python3_EXECUTABLE} ${flat_dir}/ctypes_client.py $<TARGET_FILE:mimeengine>
                   ${PROJECT_SOURCE_DIR}/examples)
  if(MIMEENGINE_SANITIZE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE flat_libasan OUTPUT_STRIP_TRAILING_WHITESPACE)
    set_tests_properties(flat.python_ctypes PROPERTIES ENVIRONMENT
                         "LD_PRELOAD=${flat_libasan};ASAN_OPTIONS=detect_leaks=0:halt_on_error=1")
  endif()

  if(TARGET mimeengine_cli)
    add_test(NAME flat.cli COMMAND ${Python3_EXECUTABLE} ${flat_dir}/cli_test.py $<TARGET_FILE:mimeengine_cli>
                                   ${PROJECT_SOURCE_DIR}/examples)
  endif()
endif()
