# Test plumbing shared by every test folder.
#
#   qor_gtest(NAME <name> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>] [LABELS <l...>])
#     A GoogleTest executable registered as one ctest test. In the win32 tree
#     it runs under Wine (the toolchain's emulator), in a fresh prefix of its
#     own, with the shared Xvfb display.
#   qor_python_test(NAME <name> SCRIPT <file.py> [TIMEOUT <s>])
#     A Python unittest file run natively; in the win32 tree it gets the same
#     Wine environment (see tests/e2e/qorwine.py).
#
# The Windows trees are the win32 tree (the shipped 32-bit build, Wine tests in
# win32 prefixes) and the win64 tree (the same sources for x86-64, Wine tests
# under wine64, for hosts that cannot run 32-bit programs). Every test that
# runs Windows code carries the label "wine", so a win32 tree on such a host
# can still run its static checks with `ctest -LE wine`; tests that only make
# sense for 32-bit code also carry "wine32only".

set(QOR_WINE_TEMPLATE ${CMAKE_BINARY_DIR}/wine-template CACHE PATH "Template Wine prefix")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QOR_WINE_BITS 64)
else()
  set(QOR_WINE_BITS 32)
endif()
set(QOR_XVFB_STATE ${CMAKE_BINARY_DIR}/xvfb.state)
# Debian's own Python: it has python3-pefile.
set(QOR_PYTHON /usr/bin/python3 CACHE FILEPATH "Python for the end-to-end tests")
set(QOR_NATIVE_BIN "" CACHE PATH "bin folder of the native tree (native qorpack for end-to-end tests)")

if(QOR_BUILD_TESTS AND NOT TARGET gtest)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  if(WIN32)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  endif()
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Third-party code: keep our warning flags out of its build.
  foreach(t gtest gtest_main)
    target_compile_options(${t} PRIVATE -w)
  endforeach()
  if(WIN32)
    # mingw's win32 thread model lacks std::mutex; see the header.
    target_compile_options(gtest PUBLIC
      -include ${CMAKE_CURRENT_LIST_DIR}/gtest-mingw-notification.h)
  endif()
endif()

function(qor_wine_test_properties test timeout)
  if(WIN32)
    set_tests_properties(${test} PROPERTIES
      FIXTURES_REQUIRED "qor_wine;qor_display"
      ENVIRONMENT "QOR_WINE_BITS=${QOR_WINE_BITS};QOR_WINE_TEMPLATE=${QOR_WINE_TEMPLATE};QOR_XVFB_STATE=${QOR_XVFB_STATE};QOR_WINE_TIMEOUT=${timeout};QOR_BIN=${CMAKE_BINARY_DIR}/bin;QOR_NATIVE_BIN=${QOR_NATIVE_BIN};QOR_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
      TIMEOUT ${timeout})
    set_property(TEST ${test} APPEND PROPERTY LABELS wine)
  else()
    set_tests_properties(${test} PROPERTIES
      ENVIRONMENT "QOR_BIN=${CMAKE_BINARY_DIR}/bin;QOR_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
      TIMEOUT ${timeout})
  endif()
endfunction()

function(qor_gtest)
  cmake_parse_arguments(A "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  add_executable(${A_NAME} ${A_SOURCES})
  target_link_libraries(${A_NAME} PRIVATE ${A_LIBS} gtest_main gtest)
  if(WIN32)
    # Console subsystem so gtest's output reaches the terminal under Wine.
    target_link_options(${A_NAME} PRIVATE -mconsole)
  endif()
  add_test(NAME ${A_NAME} COMMAND ${A_NAME})
  qor_wine_test_properties(${A_NAME} ${A_TIMEOUT})
  if(A_LABELS)
    set_property(TEST ${A_NAME} APPEND PROPERTY LABELS ${A_LABELS})
  endif()
endfunction()

function(qor_python_test)
  cmake_parse_arguments(A "" "NAME;SCRIPT;TIMEOUT" "LABELS;DEPENDS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  add_test(NAME ${A_NAME}
    COMMAND ${QOR_PYTHON} -m unittest -v ${A_SCRIPT}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
  qor_wine_test_properties(${A_NAME} ${A_TIMEOUT})
  if(A_LABELS)
    set_property(TEST ${A_NAME} APPEND PROPERTY LABELS ${A_LABELS})
  endif()
endfunction()
