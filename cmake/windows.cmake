# The window program's libraries: wxWidgets (GTK 3) and libpng. Only window targets link
# `tessel_wx`; the core never does.
find_package(wxWidgets 3.2 REQUIRED COMPONENTS core base)
pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)

add_library(tessel_wx INTERFACE)
target_include_directories(tessel_wx SYSTEM INTERFACE ${wxWidgets_INCLUDE_DIRS})
target_compile_definitions(tessel_wx INTERFACE ${wxWidgets_DEFINITIONS})
target_compile_options(tessel_wx INTERFACE ${wxWidgets_CXX_FLAGS})
target_link_libraries(tessel_wx INTERFACE ${wxWidgets_LIBRARIES})

# A window test: a GoogleTest executable whose cases each run on a private X server.
function(tessel_window_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE tessel_window_test_main)
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
                        "bash;${PROJECT_SOURCE_DIR}/scripts/with-xvfb.sh")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120
                       PROPERTIES ENVIRONMENT "TESSEL_SCREENSHOTS=${PROJECT_BINARY_DIR}/screenshots")
endfunction()
