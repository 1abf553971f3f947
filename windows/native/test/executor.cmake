add_executable(executor_child executor_child.cpp)
target_link_libraries(executor_child PRIVATE brumlet_test_child_report)

brumlet_add_test(NAME executor_test SOURCES executor_test.cpp LIBS brumlet_win)
# The test finds the child beside its own executable.
add_dependencies(executor_test executor_child)
