# Warnings and sanitizer flags shared by every target of the project.
add_library(lumvara_build_flags INTERFACE)
target_compile_options(lumvara_build_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Woverloaded-virtual>)
if(LUMVARA_WERROR)
  target_compile_options(lumvara_build_flags INTERFACE -Werror)
endif()

if(LUMVARA_SANITIZE)
  target_compile_options(lumvara_build_flags INTERFACE
    -fsanitize=${LUMVARA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(lumvara_build_flags INTERFACE -fsanitize=${LUMVARA_SANITIZE})
endif()

# lumvara_component(<name> SOURCES ... [DEPS ...] [PKG ...])
# Declares the static library lumvara_<name> with the project's flags. DEPS
# names what its sources use: the component libraries below it (a test or
# program that links it gets them too) and other targets. PKG names pkg-config
# modules it links. liblumvara.so takes every component's objects.
function(lumvara_component name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PKG" ${ARGN})
  set(target lumvara_${name})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
  target_link_libraries(${target} PUBLIC lumvara_build_flags Threads::Threads ${ARG_DEPS})
  foreach(pkg IN LISTS ARG_PKG)
    string(MAKE_C_IDENTIFIER "PC_${pkg}" var)
    pkg_check_modules(${var} REQUIRED IMPORTED_TARGET ${pkg})
    target_link_libraries(${target} PUBLIC PkgConfig::${var})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY LUMVARA_COMPONENTS ${target})
endfunction()

# lumvara_tsan_test(<target>): a test program the thread-checker build runs
# (its cases carry the 'tsan' label). The lumvara_tsan_tests target builds all
# of them, so that build compiles no test it will not run.
function(lumvara_tsan_test target)
  set_property(GLOBAL APPEND PROPERTY LUMVARA_TSAN_TESTS ${target})
endfunction()

# lumvara_test(<name> SOURCES ... [DEPS ...] [LABELS ...])
# A GoogleTest executable whose cases CTest lists one by one.
function(lumvara_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE lumvara_build_flags ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
  if("tsan" IN_LIST ARG_LABELS)
    lumvara_tsan_test(${name})
  endif()
endfunction()
