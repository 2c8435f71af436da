# The Debian package of the program (cpack -G DEB, run by scripts/package): the programs, libraries,
# plug-ins, menu entry, icons, udev rule, manual pages, the service's unit and sysusers file of the
# install tree, the maintainer scripts of cmake/debian, with the runtime packages they need
# computed by dpkg-shlibdeps. The developer tools are not part of it (TSL_BUILD_DEVTOOLS=OFF).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tsl-gate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Tessel)
set(CPACK_PACKAGE_CONTACT "Tessel <support@tessel.pro>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop gateway from USB HID sensors and watchdogs to the Tessel cloud")
set(CPACK_PACKAGE_DESCRIPTION "TSL-Gate finds a DS18B20 temperature sensor and a USB watchdog
through its plug-ins, remembers every device it has met, registers itself
and its devices with the cloud's registrar by a code entered in the web
portal, then publishes device states over MQTT on TLS with a client
certificate and hands cloud commands to the devices. The same core also
runs without a window as the system service tsl-gated.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessel.pro")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The private libraries live below lib/tsl-gate; dpkg-shlibdeps finds them there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/${TSL_INSTALL_LIBDIR})
set(CPACK_STRIP_FILES ON)
# The service's user comes with the package; the service itself is enabled by the administrator.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/prerm ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# postinst makes the service's user with systemd-sysusers.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "systemd | systemd-sysusers")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

if(TSL_PACKAGE)
    # The programs keep their libraries and plug-ins beside them; the commands are links in bin/.
    if(NOT TSL_INSTALL_BINDIR STREQUAL "bin")
        foreach(program tsl-gate tsl-gated)
            install(CODE "
                file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
                file(RELATIVE_PATH target \"\${CMAKE_INSTALL_PREFIX}/bin\"
                     \"\${CMAKE_INSTALL_PREFIX}/${TSL_INSTALL_BINDIR}/${program}\")
                file(CREATE_LINK \"\${target}\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${program}\" SYMBOLIC)")
        endforeach()
    endif()
    set(doc ${CMAKE_CURRENT_BINARY_DIR}/package-doc)
    string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
    file(WRITE ${doc}/copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: TSL-Gate
Upstream-Contact: Tessel <support@tessel.pro>

Files: *
Copyright: 2026 Tessel
License: proprietary
 All rights reserved.
")
    file(WRITE ${doc}/changelog "tsl-gate (${PROJECT_VERSION}) stable; urgency=medium

  * Release ${PROJECT_VERSION}: the desktop program, its wizard and device pages, the tray.
  * tsl-gated as a hardened system service, manual pages.

 -- Tessel <support@tessel.pro>  ${changelog_date}
")
    add_custom_command(OUTPUT ${doc}/changelog.gz
        COMMAND gzip -n -9 -c ${doc}/changelog > ${doc}/changelog.gz
        DEPENDS ${doc}/changelog VERBATIM)
    add_custom_target(package-doc ALL DEPENDS ${doc}/changelog.gz)
    install(FILES ${doc}/copyright ${doc}/changelog.gz DESTINATION share/doc/tsl-gate)
endif()
include(CPack)
