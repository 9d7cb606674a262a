# miru_sources(PURE <files...> WIN <files...>)
#   PURE: no Windows headers; compiled into miru_core on both sides.
#   WIN:  Windows code; compiled into miru_core only in the Windows build.
function(miru_sources)
    cmake_parse_arguments(ARG "" "" "PURE;WIN" ${ARGN})
    if(ARG_PURE)
        target_sources(miru_core PRIVATE ${ARG_PURE})
    endif()
    if(WIN32 AND ARG_WIN)
        target_sources(miru_core PRIVATE ${ARG_WIN})
    endif()
endfunction()

# miru_test(NAME <name> [PORTABLE] SOURCES <files...> [TIMEOUT <s>])
#   One executable per call, registered with ctest as one test (one Wine launch).
#   Windows build: always built and run under Wine in the build tree's private prefix.
#   Native build: built only when PORTABLE, run under the sanitizers.
function(miru_test)
    cmake_parse_arguments(ARG "PORTABLE" "NAME;TIMEOUT" "SOURCES" ${ARGN})
    if(NOT WIN32 AND NOT ARG_PORTABLE)
        return()
    endif()
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_compile_options(${ARG_NAME} PRIVATE ${MIRU_WARNINGS})
    target_link_libraries(${ARG_NAME} PRIVATE miru_test_support miru_core GTest::gtest)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    if(WIN32)
        add_test(NAME wine.${ARG_NAME} COMMAND ${ARG_NAME})
        set_tests_properties(wine.${ARG_NAME} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${ARG_TIMEOUT})
    else()
        add_test(NAME native.${ARG_NAME} COMMAND ${ARG_NAME})
        set_tests_properties(native.${ARG_NAME} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
            ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1")
    endif()
endfunction()
