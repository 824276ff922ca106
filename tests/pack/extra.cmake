# The interoperability test of test_pack reads composed messages back with Python's email
# package; it needs to know which interpreter to run. Under Wine it cannot run the host's.
find_package(Python3 COMPONENTS Interpreter)
if(TARGET test_pack AND Python3_Interpreter_FOUND AND NOT MIMEENGINE_TESTS_UNDER_WINE)
  target_compile_definitions(test_pack PRIVATE MIMEENGINE_PYTHON3="${Python3_EXECUTABLE}")
endif()
