# Read by cpack: a package built for another prefix would put the module where Qt does not look.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_KESTROL_BUILD_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "Debian packages need a build configured with -DCMAKE_INSTALL_PREFIX=/usr "
                        "(this one: ${CPACK_KESTROL_BUILD_PREFIX})")
endif()
