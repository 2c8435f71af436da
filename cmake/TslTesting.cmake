# tsl_add_test(<name> SOURCES <files...> [LIBS <targets...>] [HID] [LABELS <labels...>])
#
# One Qt Test binary registered with CTest. Every test gets its own configuration and data
# directories, so settings and credential files never leak between tests or into the user's
# home. HID tests run under the umockdev preload (after the ASan runtime when sanitizing) so the
# real hidapi hidraw backend sees the simulated devices.

set(TSL_TEST_HOME_ROOT ${CMAKE_BINARY_DIR}/test-home)
set(TSL_LSAN_SUPPRESSIONS ${CMAKE_SOURCE_DIR}/tests/lsan.supp)

if(TSL_SANITIZE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE TSL_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(TSL_HID_PRELOAD "${TSL_ASAN_RUNTIME}:libumockdev-preload.so.0")
else()
    set(TSL_HID_PRELOAD "libumockdev-preload.so.0")
endif()

function(tsl_add_test name)
    cmake_parse_arguments(T "HID" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set(home ${TSL_TEST_HOME_ROOT}/${name})
    set(env
        "QT_QPA_PLATFORM=offscreen"
        "HOME=${home}"
        "XDG_CONFIG_HOME=${home}/config"
        "XDG_DATA_HOME=${home}/data"
        "XDG_CACHE_HOME=${home}/cache"
        "XDG_RUNTIME_DIR=${home}/run"
        "TSL_TEST_BUILD_DIR=${CMAKE_BINARY_DIR}"
        "TSL_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
        "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1"
        "LSAN_OPTIONS=suppressions=${TSL_LSAN_SUPPRESSIONS}:print_suppressions=0"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
    set(labels ${T_LABELS})
    if(T_HID)
        list(APPEND env "LD_PRELOAD=${TSL_HID_PRELOAD}")
        list(APPEND labels hid)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT} LABELS "${labels}")
    file(MAKE_DIRECTORY ${home}/run)
endfunction()
