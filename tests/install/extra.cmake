# Installs the current build into a temporary prefix and builds a small consumer against
# it, once through the CMake package and once through pkg-config. In the sanitizer build
# the consumer is compiled and linked with the same sanitizer flags, since the installed
# library needs their runtime. It installs and compiles for the host, so a Windows build
# under Wine has none.
if(MIMEENGINE_TESTS_UNDER_WINE)
  return()
endif()
if(MIMEENGINE_SANITIZE)
  set(MIMEENGINE_CONSUMER_FLAGS "-fsanitize=address,undefined -fno-sanitize-recover=all")
else()
  set(MIMEENGINE_CONSUMER_FLAGS "")
endif()
add_test(NAME install.consumer
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_install.sh
    ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_LIST_DIR}/consumer ${CMAKE_CXX_COMPILER} "${MIMEENGINE_CONSUMER_FLAGS}")
set_tests_properties(install.consumer PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
