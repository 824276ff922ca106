# The engines of test_threads run on threads of their own.
find_package(Threads REQUIRED)
target_link_libraries(test_threads PRIVATE Threads::Threads)
