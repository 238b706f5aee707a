# The Debian package (scripts/package). The library dependencies come from the binaries themselves;
# what they load at run time without linking it is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvanedb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "OrvaneDB maintainers <maintainers@orvanedb.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "parcel conveyor station storing device readings in Firebird")
set(CPACK_PACKAGE_DESCRIPTION
    "The program beside a parcel conveyor: reading and dimensioning devices send one\n\
text line per parcel over TCP; the station shows each reading, stores one row\n\
per parcel in a Firebird database, counts read quality and keeps raw logs.\n\
It runs with a window or headless as a systemd service, and serves its\n\
counters to Prometheus.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# adduser for the service's user; the embedded engine opens the default local database file, and a
# window needs a platform plugin, but a station on a server needs neither. The alert mail's TLS
# backend comes with libqt6network6 (from the libraries); the system's certificate store lets it
# verify a mail server, without which the mail still goes encrypted, unverified.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "firebird3.0-server-core, qt6-qpa-plugins, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
