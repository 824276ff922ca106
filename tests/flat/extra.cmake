# Tests of the flat interface that are not plain GoogleTest runs: start-up under chosen code
# pages in fresh processes, a C client, the decoding functions from Python through ctypes and
# the mimeengine program, both driven by tables under tests/data/flat/.
set(flat_dir ${CMAKE_CURRENT_LIST_DIR})

# Start-up: each code page in a process of its own, chosen through MIMEENGINE_ACP; FLAT_STARTUP
# holds the default charset, the needs-encoding flag and the encoding of "abc" expected. On
# Windows the start-up is DllMain's, which runs for the DLL only, not in test_flat (linked to
# the archive): there a program loads mimeengine.dll with LoadLibraryA and checks it. There
# too the code page can come from the system itself, which follows the locale the process
# starts in (under Wine, LC_ALL and LANG).
set(flat_body ${PROJECT_SOURCE_DIR}/tests/data/flat/c_client_body.txt)
set(flat_startup_rows "932|iso-2022-jp 1 =?iso-2022-jp?B?YWJj?=" "1252|iso-8859-1 0 abc" "437|US-ASCII 0 abc"
                      "51932|euc-jp 1 =?euc-jp?B?YWJj?=")
if(WIN32)
  add_executable(flat_dll_startup ${flat_dir}/dll_startup.c)
  target_include_directories(flat_dll_startup PRIVATE ${PROJECT_SOURCE_DIR}/include)
  target_compile_options(flat_dll_startup PRIVATE -Wall -Wextra -Werror)
  add_dependencies(flat_dll_startup mimeengine)
  set(flat_startup_command flat_dll_startup ${flat_body})
  list(APPEND flat_startup_rows "ja_JP.UTF-8|iso-2022-jp 1 =?iso-2022-jp?B?YWJj?=" "C.UTF-8|iso-8859-1 0 abc")
else()
  set(flat_startup_command test_flat --gtest_filter=FlatStartup.*)
endif()
foreach(row ${flat_startup_rows})
  string(REGEX REPLACE "\\|.*" "" codepage "${row}")
  string(REGEX REPLACE "^[^|]*\\|" "" expected "${row}")
  if(codepage MATCHES "^[0-9]+$")
    add_test(NAME flat.startup_codepage_${codepage} COMMAND ${flat_startup_command})
    set_tests_properties(flat.startup_codepage_${codepage} PROPERTIES
                         ENVIRONMENT "MIMEENGINE_ACP=${codepage};FLAT_STARTUP=${expected}")
  else()
    add_test(NAME flat.startup_locale_${codepage} COMMAND ${flat_startup_command})
    set_tests_properties(flat.startup_locale_${codepage} PROPERTIES
                         ENVIRONMENT "LC_ALL=${codepage};LANG=${codepage};FLAT_STARTUP=${expected}"
                         ENVIRONMENT_MODIFICATION "MIMEENGINE_ACP=unset:;LC_CTYPE=unset:")
  endif()
endforeach()

# A C++ client linked to the shared library itself catches CFileException thrown inside it.
add_executable(flat_library_exception ${flat_dir}/library_exception.cc)
set_source_files_properties(${flat_dir}/library_exception.cc PROPERTIES LANGUAGE CXX)
target_link_libraries(flat_library_exception PRIVATE mimeengine)
target_compile_options(flat_library_exception PRIVATE ${MIMEENGINE_WARNINGS})
add_test(NAME flat.library_exception COMMAND flat_library_exception ${PROJECT_SOURCE_DIR}/tests/data/flat/missing-file)

# A client written in C, compiled as C, linked to the shared library.
add_executable(flat_c_client ${flat_dir}/c_client.c)
set_target_properties(flat_c_client PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_link_libraries(flat_c_client PRIVATE mimeengine)
target_compile_options(flat_c_client PRIVATE -Wall -Wextra -pedantic -Werror)
add_test(NAME flat.c_client COMMAND flat_c_client ${flat_body})
set_tests_properties(flat.c_client PROPERTIES PASS_REGULAR_EXPRESSION
  "^parts 1 1 encode 0 -1 \\(freed\\) decode 1 1 md[A-Za-z0-9]+[/\\]data.bin \\[Hello from C\r?\n\\]\r?\nfreed 1 1 foreign 1 1\r?\n$")

# Python runs on the host: not for a library built for Windows and tested under Wine.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND NOT MIMEENGINE_TESTS_UNDER_WINE)
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
    # The program on a full and a read-only disk: tmpfs mounts, as root (SKIPPED elsewhere).
    add_test(NAME flat.cli_full_disk COMMAND ${Python3_EXECUTABLE} ${flat_dir}/cli_test.py cli_fulldisk.tsv
                                             $<TARGET_FILE:mimeengine_cli> ${PROJECT_SOURCE_DIR}/examples)
  endif()
  # The Dask example on local clusters, with Debian's python3-distributed, which serves
  # /usr/bin/python3 (skipped without it). Once, in the build without sanitizers: it tests the
  # example and the replacing of directories across processes, which flat.cli covers in both.
  if(TARGET mimeengine_cli AND EXISTS /usr/bin/python3 AND NOT MIMEENGINE_SANITIZE)
    add_test(NAME flat.dask COMMAND /usr/bin/python3 ${flat_dir}/dask_test.py $<TARGET_FILE:mimeengine_cli>
                                    ${PROJECT_SOURCE_DIR}/examples/dask/unpack_archive.py)
    set_tests_properties(flat.dask PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 400)
  endif()
endif()
