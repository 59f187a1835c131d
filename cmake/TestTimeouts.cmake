# Every test has a TIMEOUT, so that a test that hangs (a search that spins, a child that never
# exits) fails instead of holding CI. Test folders declare their tests through the two helpers
# below; tests/CMakeLists.txt refuses a test program or a plain test that bypasses them.
include(GoogleTest)

# Seconds for one GoogleTest case or one plain test that names no time of its own: well over
# ten times what the slowest case takes on a loaded machine (about 20 s).
set(TALLORIN_TEST_TIMEOUT 300)
# ThreadSanitizer slows the compressor's longest cases most: 62 s alone and 139 s beside a build
# for the one that took 24 s under the sanitizers preset. Its build gives every test three times
# its own bound.
if(TALLORIN_SANITIZE_THREAD)
    set(TALLORIN_TEST_TIMEOUT_SCALE 3)
else()
    set(TALLORIN_TEST_TIMEOUT_SCALE 1)
endif()
# A test on the report-service double's fixed ports first waits for any other run on this
# machine to release them, up to the double's own deadline of 10 minutes, then up to 90 s for
# another program to free them (a connection's TIME_WAIT there); it gets both on top, so that
# the double's clearer failure comes first.
set(TALLORIN_FIXED_PORTS_WAIT 690)

# The TIMEOUT in `out` and the properties in `properties_out` for a test that asks for
# `timeout` seconds (or the default), scaled for the build, and, with `fixed_ports`, for the
# double's fixed ports.
function(tallorin_timeout_properties timeout fixed_ports out properties_out)
    if(NOT timeout)
        set(timeout ${TALLORIN_TEST_TIMEOUT})
    endif()
    math(EXPR timeout "${timeout} * ${TALLORIN_TEST_TIMEOUT_SCALE}")
    set(properties)
    if(fixed_ports)
        math(EXPR timeout "${timeout} + ${TALLORIN_FIXED_PORTS_WAIT}")
        # They never run side by side within one run either.
        set(properties RESOURCE_LOCK report_service_ports)
    endif()
    set(${out} ${timeout} PARENT_SCOPE)
    set(${properties_out} ${properties} PARENT_SCOPE)
endfunction()

# gtest_discover_tests with a TIMEOUT on every case:
#   tallorin_discover_tests(<target> [FIXED_PORTS] [TIMEOUT <seconds>] [TEST_PREFIX <prefix>]
#                           [PROPERTIES <name> <value>...])
function(tallorin_discover_tests target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "FIXED_PORTS" "TIMEOUT;TEST_PREFIX" "PROPERTIES")
    tallorin_timeout_properties("${arg_TIMEOUT}" "${arg_FIXED_PORTS}" timeout properties)
    gtest_discover_tests(${target} TEST_PREFIX "${arg_TEST_PREFIX}"
                         PROPERTIES TIMEOUT ${timeout} ${properties} ${arg_PROPERTIES})
    set_property(GLOBAL APPEND PROPERTY TALLORIN_TIMED_PROGRAMS ${target})
endfunction()

# add_test with a TIMEOUT; other properties are set as usual after it:
#   tallorin_add_test(NAME <name> [FIXED_PORTS] [TIMEOUT <seconds>] COMMAND <command> <arg>...)
function(tallorin_add_test)
    cmake_parse_arguments(PARSE_ARGV 0 arg "FIXED_PORTS" "NAME;TIMEOUT" "COMMAND")
    tallorin_timeout_properties("${arg_TIMEOUT}" "${arg_FIXED_PORTS}" timeout properties)
    add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND})
    set_tests_properties(${arg_NAME} PROPERTIES TIMEOUT ${timeout} ${properties})
    set_property(GLOBAL APPEND PROPERTY TALLORIN_TIMED_TESTS ${arg_NAME})
endfunction()

# Fails the configuration when a test of `folder` came without a timeout: a plain test not
# added by tallorin_add_test, or a GoogleTest program not discovered by tallorin_discover_tests.
function(tallorin_check_test_timeouts folder)
    get_property(timed_tests GLOBAL PROPERTY TALLORIN_TIMED_TESTS)
    get_property(timed_programs GLOBAL PROPERTY TALLORIN_TIMED_PROGRAMS)
    get_property(tests DIRECTORY ${folder} PROPERTY TESTS)
    foreach(test IN LISTS tests)
        if(NOT test IN_LIST timed_tests)
            message(FATAL_ERROR "${folder}: test ${test} has no timeout; "
                                "add it with tallorin_add_test")
        endif()
    endforeach()
    get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        get_target_property(libraries ${target} LINK_LIBRARIES)
        if(type STREQUAL "EXECUTABLE" AND libraries MATCHES "GTest::" AND
           NOT target IN_LIST timed_programs)
            message(FATAL_ERROR "${folder}: ${target} has no timeout; discover it with "
                                "tallorin_discover_tests")
        endif()
    endforeach()
endfunction()
