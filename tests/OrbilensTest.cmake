# orbilens_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>] [LABELS <l...>])
#
# Builds a Qt Test executable and registers it with CTest, run offscreen with
# its own settings location so that no test touches the user's settings.
function(orbilens_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES} $<TARGET_OBJECTS:orbilens_camera_address_loopback>)
    target_link_libraries(${name} PRIVATE Qt6::Test orbilens_test_support ${ARG_LIBS} orbilens_warnings)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    if(ORBILENS_SANITIZE)
        math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * 3") # instrumented code runs slower
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/config;XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-home/data;HOME=${CMAKE_BINARY_DIR}/test-home;ORBILENS_SIM=$<TARGET_FILE:camera-box-sim>")
endfunction()
