# Debian packages, one per install component: the module and the tools for this build's Qt major (so the
# Qt 5 and Qt 6 packages install side by side), and the header-only -dev package that serves both.
# Configure with -DCMAKE_INSTALL_PREFIX=/usr, so that the module lands in Qt's own multiarch plugin tree.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrol-deviceapi)
set(CPACK_PACKAGE_VENDOR Kestrol)
set(CPACK_PACKAGE_CONTACT "Kestrol device-API team <deviceapi@kestrol.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Device-API plugin for IP cameras and recorders with counting analytics")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/packagingcheck.cmake)
set(CPACK_KESTROL_BUILD_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_COMPONENTS_ALL plugin dev tools)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)

set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME kestrol-deviceapi-qt${KESTROL_QT_MAJOR})
set(CPACK_COMPONENT_PLUGIN_DESCRIPTION
    "Plugin module for Qt ${KESTROL_QT_MAJOR} hosts, loaded through QPluginLoader (qtdeviceapiinterfaceid)")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME kestrol-deviceapi-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "Host interface header with CMake package (Kestrol::DeviceApi) and pkg-config file, for Qt 5 and Qt 6")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kestrol-deviceapi-tools-qt${KESTROL_QT_MAJOR})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DEPENDS plugin)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "kestrolctl${KESTROL_TOOL_SUFFIX} (command-line host) and kestrol-devicesim${KESTROL_TOOL_SUFFIX} (device simulator)")

include(CPack)
