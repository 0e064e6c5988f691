# The Samba test network as a CTest fixture.
#
#   include(${PROJECT_SOURCE_DIR}/tests/network/TestNetwork.cmake)
#   vuv_add_network_test(NAME my_test COMMAND $<TARGET_FILE:my_test> --flag)
#
# The fixture `vuv_testnet` brings the network up once before the first test that needs it
# and down after the last one, always with the SMB2-only WS-Discovery hosts (VUV_NET_MODERN=1):
# one network serves the NetBIOS tests and the WS-Discovery tests alike. Tests run inside the
# client namespace (testnet.sh exec).
# With a network brought up by hand: ctest -FA vuv_testnet (skips the setup and cleanup).
#
# VUV_NETWORK_TESTS: ON, OFF or AUTO (default: ON when ctest-fixture.sh check passes at
# configure time, i.e. running as root with the tools installed).

set(VUV_NETWORK_TESTS AUTO CACHE STRING "Register the tests that need the Samba test network (ON/OFF/AUTO)")
set(VUV_NET_PREFIX "$ENV{VUV_NET_PREFIX}" CACHE STRING "Prefix of the test network's namespaces (empty: vuv)")
if(VUV_NET_PREFIX STREQUAL "")
  set(VUV_NET_PREFIX vuv)
endif()

# Cache entries, not plain variables: vuv_add_network_test may be called from any directory.
set(VUV_TESTNET_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")
set(_vuv_net_dir ${VUV_TESTNET_DIR})

if(VUV_NETWORK_TESTS STREQUAL "AUTO")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env VUV_NET_MODERN=1 ${_vuv_net_dir}/ctest-fixture.sh check
                  RESULT_VARIABLE _vuv_net_rc OUTPUT_VARIABLE _vuv_net_why ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(_vuv_net_rc EQUAL 0)
    set(_vuv_net_on ON)
  else()
    set(_vuv_net_on OFF)
    message(STATUS "Network tests off: ${_vuv_net_why}")
  endif()
else()
  set(_vuv_net_on ${VUV_NETWORK_TESTS})
endif()

set(VUV_TESTNET_ON ${_vuv_net_on} CACHE INTERNAL "")

# Tests are named per directory, so "if(TEST ...)" cannot see a fixture another directory made:
# a global property makes sure the fixture exists once, whoever includes this file first.
get_property(_vuv_net_fixture_made GLOBAL PROPERTY VUV_TESTNET_FIXTURE_MADE)
if(_vuv_net_on AND NOT _vuv_net_fixture_made)
  set_property(GLOBAL PROPERTY VUV_TESTNET_FIXTURE_MADE TRUE)
  add_test(NAME vuv_testnet_up COMMAND ${_vuv_net_dir}/ctest-fixture.sh setup)
  add_test(NAME vuv_testnet_down COMMAND ${_vuv_net_dir}/ctest-fixture.sh cleanup)
  set_tests_properties(vuv_testnet_up PROPERTIES
    FIXTURES_SETUP vuv_testnet TIMEOUT 300 ENVIRONMENT "VUV_NET_PREFIX=${VUV_NET_PREFIX};VUV_NET_MODERN=1"
    LABELS network)
  set_tests_properties(vuv_testnet_down PROPERTIES
    FIXTURES_CLEANUP vuv_testnet TIMEOUT 120 ENVIRONMENT "VUV_NET_PREFIX=${VUV_NET_PREFIX}" LABELS network)
  # The Kerberos domain, on the running network, only for the tests that ask for it.
  add_test(NAME vuv_testnet_kdc_up COMMAND ${_vuv_net_dir}/testnet.sh kdc-up)
  add_test(NAME vuv_testnet_kdc_down COMMAND ${_vuv_net_dir}/testnet.sh kdc-down)
  set_tests_properties(vuv_testnet_kdc_up PROPERTIES
    FIXTURES_SETUP vuv_testnet_kdc FIXTURES_REQUIRED vuv_testnet TIMEOUT 180
    ENVIRONMENT "VUV_NET_PREFIX=${VUV_NET_PREFIX}" LABELS network)
  set_tests_properties(vuv_testnet_kdc_down PROPERTIES
    FIXTURES_CLEANUP vuv_testnet_kdc FIXTURES_REQUIRED vuv_testnet TIMEOUT 60
    ENVIRONMENT "VUV_NET_PREFIX=${VUV_NET_PREFIX}" LABELS network)
endif()

# vuv_add_network_test(NAME name COMMAND cmd args... [TIMEOUT s] [EXCLUSIVE] [KERBEROS])
# EXCLUSIVE: the test stops or starts hosts (kill-host/start-host); it runs alone.
# KERBEROS: the test needs the Kerberos domain (testnet.sh kdc-up) as well.
function(vuv_add_network_test)
  cmake_parse_arguments(ARG "EXCLUSIVE;KERBEROS" "NAME;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT VUV_TESTNET_ON)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_test(NAME ${ARG_NAME} COMMAND ${VUV_TESTNET_DIR}/testnet.sh exec ${ARG_COMMAND})
  set_tests_properties(${ARG_NAME} PROPERTIES
    FIXTURES_REQUIRED vuv_testnet
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "VUV_NET_PREFIX=${VUV_NET_PREFIX}"
    LABELS network)
  if(ARG_EXCLUSIVE)
    set_tests_properties(${ARG_NAME} PROPERTIES RUN_SERIAL TRUE)
  endif()
  if(ARG_KERBEROS)
    set_tests_properties(${ARG_NAME} PROPERTIES FIXTURES_REQUIRED "vuv_testnet;vuv_testnet_kdc")
  endif()
endfunction()
