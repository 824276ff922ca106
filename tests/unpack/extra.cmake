# The shared hostile messages through bench/adversarial_run; skipped without ../shared. The
# driver is a host shell script with Python, so not for a program under Wine.
if(NOT MIMEENGINE_TESTS_UNDER_WINE AND EXISTS ${PROJECT_SOURCE_DIR}/bench/CMakeLists.txt AND EXISTS ${PROJECT_SOURCE_DIR}/bench/adversarial_run.cpp)
  add_test(NAME unpack.adversarial
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/adversarial.sh $<TARGET_FILE:adversarial_run> ${PROJECT_SOURCE_DIR}/../shared)
  set_tests_properties(unpack.adversarial PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
endif()
