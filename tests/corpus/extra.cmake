# The corpus test: every message of ../shared/corpus unpacked by the mimeengine program and
# compared with its reference reading; skipped (77) when the corpus is absent.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME corpus.reference COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/corpus_test.py
                                         $<TARGET_FILE:mimeengine_cli>)
  set_tests_properties(corpus.reference PROPERTIES SKIP_RETURN_CODE 77)
endif()
