# What a build of the installer may trust, checked when it is configured.
#
# A test build says so (INSTALLER_TEST_SERVERS=ON): it may ask loopback over plain HTTP and
# may carry the committed test key, whose private half is in the repository. Any other
# build is a release and must not trust the network by default: it needs the publisher's
# own key, or an explicit INSTALLER_ALLOW_UNSIGNED_DESCRIPTIONS=ON with https:// servers,
# and it never asks a loopback address, which any local program can answer.

# Host part of `url` ("" when it has none) into `out_var`.
function(installer_url_host url out_var)
    set(host "")
    if(url MATCHES "^[A-Za-z][A-Za-z0-9+.-]*://([^/?#]*)")
        set(authority "${CMAKE_MATCH_1}")
        string(REGEX REPLACE "^.*@" "" authority "${authority}")
        if(authority MATCHES "^(\\[[^]]*\\])")
            set(host "${CMAKE_MATCH_1}")
        else()
            string(REGEX REPLACE ":[0-9]*$" "" host "${authority}")
        endif()
    endif()
    string(TOLOWER "${host}" host)
    set(${out_var} "${host}" PARENT_SCOPE)
endfunction()

# TRUE in `out_var` when `url` names this machine: localhost, 127.0.0.0/8, 0.0.0.0, [::1],
# an IPv4-mapped loopback, or no host at all.
function(installer_url_is_loopback url out_var)
    installer_url_host("${url}" host)
    string(REGEX REPLACE "\\.$" "" host "${host}")
    set(loopback FALSE)
    if(host STREQUAL "" OR host STREQUAL "localhost" OR host MATCHES "\\.localhost$" OR host MATCHES "^127\\."
       OR host MATCHES "^0+(\\.0+)*$" OR host MATCHES "^\\[(0*:)*:?0*1\\]$" OR host MATCHES "^\\[::ffff:127\\."
       OR host MATCHES "^\\[::?\\]$" OR host MATCHES "^[0-9]+$")
        set(loopback TRUE)
    endif()
    set(${out_var} ${loopback} PARENT_SCOPE)
endfunction()

# The base64 body of a PEM text, without line breaks or blanks, into `out_var`.
function(installer_pem_body pem out_var)
    string(REGEX REPLACE "-----[A-Z ]+-----" "" body "${pem}")
    string(REGEX REPLACE "[ \t\r\n]" "" body "${body}")
    set(${out_var} "${body}" PARENT_SCOPE)
endfunction()

function(installer_check_release_settings)
    if(NOT INSTALLER_PRODUCT MATCHES "^[A-Za-z0-9._-]+$" OR INSTALLER_PRODUCT MATCHES "^\\.")
        message(FATAL_ERROR "INSTALLER_PRODUCT=\"${INSTALLER_PRODUCT}\": the product name is letters, digits, '.', '_' "
                            "and '-' (it is also the name of the installer's folder in the user's application data)")
    endif()
    string(LENGTH "${INSTALLER_DESCRIPTION_SERIAL_FLOOR}" floor_digits)
    if(NOT INSTALLER_DESCRIPTION_SERIAL_FLOOR MATCHES "^(0|[1-9][0-9]*)$" OR floor_digits GREATER 15)
        message(FATAL_ERROR "INSTALLER_DESCRIPTION_SERIAL_FLOOR=\"${INSTALLER_DESCRIPTION_SERIAL_FLOOR}\" is not a whole "
                            "number below 10^15")
    endif()
    if(INSTALLER_TEST_SERVERS)
        message(STATUS "Test build (INSTALLER_TEST_SERVERS=ON): loopback servers, plain HTTP and the test key are "
                       "allowed. Never ship this build.")
        return()
    endif()
    if(INSTALLER_TEST_KEY_INSTALLER)
        message(FATAL_ERROR "INSTALLER_TEST_KEY_INSTALLER links an installer with the committed test key: it needs "
                            "INSTALLER_TEST_SERVERS=ON (a test build)")
    endif()
    foreach(setting INSTALLER_CONFIG_BASE_URL INSTALLER_STATS_BASE_URL)
        installer_url_is_loopback("${${setting}}" loopback)
        if(loopback)
            message(FATAL_ERROR "${setting}=${${setting}} is a loopback address, which any program on the user's "
                                "machine can answer: a release build needs the publisher's server (a test build "
                                "says so with INSTALLER_TEST_SERVERS=ON)")
        endif()
    endforeach()
    if(INSTALLER_PUBLISHER_KEY)
        file(READ "${INSTALLER_PUBLISHER_KEY}" given_pem)
        file(READ "${PROJECT_SOURCE_DIR}/tests/keys/test_only_publisher_public.pem" test_pem)
        installer_pem_body("${given_pem}" given_body)
        installer_pem_body("${test_pem}" test_body)
        if(given_body STREQUAL test_body)
            message(FATAL_ERROR "INSTALLER_PUBLISHER_KEY=${INSTALLER_PUBLISHER_KEY} is the committed test key, whose "
                                "private half is in the repository: a release build needs the publisher's own key "
                                "(publish_tool keygen)")
        endif()
        if(INSTALLER_ALLOW_UNSIGNED_DESCRIPTIONS)
            message(FATAL_ERROR "INSTALLER_ALLOW_UNSIGNED_DESCRIPTIONS=ON and INSTALLER_PUBLISHER_KEY contradict each "
                                "other: give one of them")
        endif()
        return()
    endif()
    if(NOT INSTALLER_ALLOW_UNSIGNED_DESCRIPTIONS)
        message(FATAL_ERROR "A release build needs the publisher's key: set INSTALLER_PUBLISHER_KEY to the PEM public "
                            "key (publish_tool keygen), so that the installer runs only descriptions the publisher "
                            "signed. To ship a build that trusts its configuration server instead, set "
                            "INSTALLER_ALLOW_UNSIGNED_DESCRIPTIONS=ON with https:// servers; test builds set "
                            "INSTALLER_TEST_SERVERS=ON.")
    endif()
    message(WARNING "\n"
                    "  ************************************************************************\n"
                    "  INSTALLER_ALLOW_UNSIGNED_DESCRIPTIONS=ON: this installer runs whatever\n"
                    "  package description its configuration server sends, unsigned. Anyone who\n"
                    "  can answer for that server makes it download and run his program.\n"
                    "  Only https:// server addresses are accepted.\n"
                    "  ************************************************************************")
    foreach(setting INSTALLER_CONFIG_BASE_URL INSTALLER_STATS_BASE_URL)
        if(NOT "${${setting}}" MATCHES "^[Hh][Tt][Tt][Pp][Ss]://[^/]")
            message(FATAL_ERROR "${setting}=${${setting}}: a build without the publisher's key "
                                "(INSTALLER_ALLOW_UNSIGNED_DESCRIPTIONS=ON) accepts only https:// server addresses")
        endif()
    endforeach()
endfunction()
