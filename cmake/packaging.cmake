# Debian packages for the build's target (amd64 natively, armhf cross):
#   kvrm4410t-plugin  the plug-in alone, in the plug-in folder
#   kvrm4410t-tools   meter-host and the other tools, the host library, samples
# Run `cpack` in a build tree (./run package does both architectures).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvrm4410t)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KVRM4410T driver maintainers <kvrm4410t@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${KV_PACKAGE_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL plugin tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${KV_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Dependencies come from the programs' NEEDED entries; the host library is
# the package's own (tools) or the host's (plug-in), never a dependency.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/host)
# The site service's conffile and maintainer scripts (packaging/); the unit
# needs kill(1) for a reload, and meter-history's charts gnuplot and a font
# with the Chinese glyphs of their legends.
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/packaging/control/conffiles ${PROJECT_BINARY_DIR}/packaging/control/postinst
  ${PROJECT_BINARY_DIR}/packaging/control/prerm ${PROJECT_BINARY_DIR}/packaging/control/postrm)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS procps)
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "gnuplot-nox, fonts-wqy-microhei")
set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME kvrm4410t-plugin)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kvrm4410t-tools)
set(CPACK_COMPONENT_PLUGIN_DESCRIPTION
  "KVRM4410T meter driver plug-in for the site-supervision host\n The plug-in library libkvrm4410t_q.so; the host loads it from its plug-in folder.")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "KVRM4410T bench host and site service, simulated meter and host library\n meter-host drives a meter (or meter-sim) through the plug-in, on a bench or as\n the site service kvrm4410t-site; samples included.")
include(CPack)
