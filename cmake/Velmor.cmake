# Build helpers shared by every directory: warnings, sanitizers, one library per layer.

add_library(velmor_warnings INTERFACE)
target_compile_options(velmor_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wformat=2
  -Wimplicit-fallthrough -Werror)

if(VELMOR_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(VELMOR_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Asio's fences are fine under ThreadSanitizer; GCC only warns that it cannot model them.
    add_compile_options(-Wno-tsan)
  endif()
elseif(VELMOR_FUZZ)
  # Every library is instrumented for coverage, so the fuzzers see inside the parsers they drive;
  # the fuzz executables add libFuzzer itself at link time.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT VELMOR_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VELMOR_SANITIZE must be empty, 'address' or 'thread'")
endif()

# velmor_layer(<dir> DEPS <targets...>)
# One static library per source directory, named velmor_<dir>. A layer links only the layers
# below it; tests/layering_check.sh makes sure no header of a higher layer is included.
function(velmor_layer dir)
  cmake_parse_arguments(L "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(sources)
    add_library(velmor_${dir} STATIC ${sources})
    target_include_directories(velmor_${dir} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(velmor_${dir} PUBLIC ${L_DEPS} PRIVATE velmor_warnings ${L_PRIVATE_DEPS})
  else()
    add_library(velmor_${dir} INTERFACE)
    target_include_directories(velmor_${dir} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(velmor_${dir} INTERFACE ${L_DEPS})
  endif()
endfunction()

find_package(GTest REQUIRED)
include(GoogleTest)

# velmor_tests(<name> LIBS <targets...> [LABELS <labels...>] [QT_WIDGETS_MAIN])
# One GoogleTest executable per test directory, from every *_test.cpp in it. QT_WIDGETS_MAIN runs
# the tests inside a QApplication (offscreen unless QT_QPA_PLATFORM says otherwise), for widget
# tests; tests/support/qt_widgets_main.cpp.
function(velmor_tests name)
  # SERIAL: the tests run alone, for those that measure timing on the whole machine.
  cmake_parse_arguments(T "QT_WIDGETS_MAIN;SERIAL" "" "LIBS;LABELS;SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  list(APPEND sources ${T_SOURCES})
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  if(T_QT_WIDGETS_MAIN)
    set(main velmor_qt_widgets_main)
  else()
    set(main GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock ${main} velmor_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  set(serial FALSE)
  if(T_SERIAL)
    set(serial TRUE)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300 RUN_SERIAL ${serial})
endfunction()
