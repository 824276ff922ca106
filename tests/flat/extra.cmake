# Tests of the flat interface that are not plain GoogleTest runs: start-up under chosen code
# pages in fresh processes, a C client, the decoding functions from Python through ctypes and
# the mimeengine program, both driven by tables under tests/data/flat/.
set(flat_dir ${CMAKE_CURRENT_LIST_DIR})

# Start-up: each code page in a process of its own, chosen through MIMEENGINE_ACP; FLAT_STARTUP
# holds the default charset, the needs-encoding flag and the encoding of "abc" expected.
foreach(row "932;iso-2022-jp 1 =?iso-2022-jp?B?YWJj?=" "1252;iso-8859-1 0 abc" "437;US-ASCII 0 abc"
            "51932;euc-jp 1 =?euc-jp?B?YWJj?=")
  list(GET row 0 codepage)
  list(GET row 1 expected)
  add_test(NAME flat.startup_codepage_${codepage} COMMAND test_flat --gtest_filter=FlatStartup.*)
  set_tests_properties(flat.startup_codepage_${codepage} PROPERTIES
                       ENVIRONMENT "MIMEENGINE_ACP=${codepage};FLAT_STARTUP=${expected}")
endforeach()

# A client written in C, compiled as C, linked to the shared library.
add_executable(flat_c_client ${flat_dir}/c_client.c)
set_target_properties(flat_c_client PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_link_libraries(flat_c_client PRIVATE mimeengine)
target_compile_options(flat_c_client PRIVATE -Wall -Wextra -pedantic -Werror)
add_test(NAME flat.c_client COMMAND flat_c_client ${PROJECT_SOURCE_DIR}/tests/data/flat/c_client_body.txt)
set_tests_properties(flat.c_client PROPERTIES PASS_REGULAR_EXPRESSION
  "^parts 1 1 encode 0 -1 \\(freed\\) decode 1 1 md[A-Za-z0-9]+/data.bin \\[Hello from C\r?\n\\]\nfreed 1 1 foreign 1 1\n$")

find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  # Python loads the library with ctypes. A library built with AddressSanitizer needs its
  # runtime loaded first into the (uninstrumented) interpreter, and the interpreter's own
  # allocations are not ours to check for leaks.
  add_test(NAME flat.python_ctypes COMMAND ${Python3_EXECUTABLE} ${flat_dir}/cli_test.py ctypes.tsv -
                                           ${PROJECT_SOURCE_DIR}/examples)
  set(flat_ctypes_env "MIMEENGINE_LIBRARY=$<TARGET_FILE:mimeengine>")
  if(MIMEENGINE_SANITIZE)
    # libstdc++ is preloaded too, so that the sanitizer finds the real __cxa_throw when the
    # library throws (and catches) inside a call.
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE flat_libasan OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so
                    OUTPUT_VARIABLE flat_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND flat_ctypes_env "LD_PRELOAD=${flat_libasan}:${flat_libstdcxx}" "ASAN_OPTIONS=detect_leaks=0:halt_on_error=1")
  endif()
  set_tests_properties(flat.python_ctypes PROPERTIES ENVIRONMENT "${flat_ctypes_env}")

  if(TARGET mimeengine_cli)
    add_test(NAME flat.cli COMMAND ${Python3_EXECUTABLE} ${flat_dir}/cli_test.py cli.tsv
                                   $<TARGET_FILE:mimeengine_cli> ${PROJECT_SOURCE_DIR}/examples)
  endif()
endif()
