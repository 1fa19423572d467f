# Helpers shared by every folder: warnings, sanitizers, libraries, tests.

if(KX_SANITIZE)
    list(JOIN KX_SANITIZE "," _kx_sanitizers)
    add_compile_options(-fsanitize=${_kx_sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${_kx_sanitizers})
endif()
if(KX_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# Warnings apply to our own targets only, never to third-party headers.
function(kx_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow)
endfunction()

# kx_library(<name> SOURCES ... [DEPS ...]) makes the static library kx_<name>.
# Sources include each other from the project root: #include "recording/record_reader.h".
function(kx_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(kx_${name} STATIC ${ARG_SOURCES})
    target_include_directories(kx_${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(kx_${name} PUBLIC ${ARG_DEPS})
    kx_warnings(kx_${name})
endfunction()

# kx_test(<name> SOURCES ... [DEPS ...]) makes a GoogleTest program registered with CTest.
function(kx_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
    kx_warnings(${name})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
        WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
        PROPERTIES ENVIRONMENT "ASAN_OPTIONS=max_allocation_size_mb=256:detect_leaks=1")
endfunction()
