# Where the packages put things, below the prefix (/usr in the packages).
set(KV_PACKAGE_PREFIX /usr)
# The plug-in folder mirrors the host's; the host library stays out of the
# system's library path, as on the controller the host brings its own.
set(KV_INSTALL_BINDIR bin)
set(KV_INSTALL_HOSTLIBDIR lib/smdhost)
set(KV_INSTALL_PLUGINDIR lib/smdhost/plugins)
set(KV_INSTALL_SAMPLESDIR share/kvrm4410t/samples)

# The site service of the tools package (packaging/): its unit, its system
# user, and its folder under /etc (ConfigurationDirectory) and /var/lib
# (StateDirectory). Debian 12's systemd reads units and sysusers.d files
# where pkg-config's systemd module says: systemdsystemunitdir, sysusersdir.
set(KV_SERVICE_NAME kvrm4410t-site.service)
set(KV_SERVICE_USER kvrm4410t)
set(KV_SERVICE_DIR kvrm4410t)
set(KV_SITE_FILE /etc/${KV_SERVICE_DIR}/site.json)
set(KV_UNIT_DIR /lib/systemd/system)
set(KV_SYSUSERS_DIR /usr/lib/sysusers.d)

# The same places as seen from an installed tool program.
file(RELATIVE_PATH KV_INSTALL_TOOL_TO_HOSTLIB /p/${KV_INSTALL_BINDIR} /p/${KV_INSTALL_HOSTLIBDIR})
file(RELATIVE_PATH KV_INSTALL_TOOL_TO_PLUGINDIR /p/${KV_INSTALL_BINDIR} /p/${KV_INSTALL_PLUGINDIR})

# The Debian architecture of what this tree builds.
if(CMAKE_CROSSCOMPILING)
  set(KV_DEB_ARCH armhf)
else()
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE KV_DEB_ARCH
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT KV_DEB_ARCH)
    set(KV_DEB_ARCH amd64)
  endif()
endif()
