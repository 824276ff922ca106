# The corpus test: every message of ../shared/corpus unpacked by the mimeengine program and
# compared with its reference reading; skipped (77) when the corpus is absent. Python runs on
# the host, so not for a program under Wine.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND NOT MIMEENGINE_TESTS_UNDER_WINE)
  add_test(NAME corpus.reference COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/corpus_test.py
                                         $<TARGET_FILE:mimeengine_cli>)
  set_tests_properties(corpus.reference PROPERTIES SKIP_RETURN_CODE 77)
endif()
