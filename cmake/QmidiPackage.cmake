# The Debian package (cpack -G DEB): built from the install rules, its
# library dependencies computed from the binaries by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME qmidi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "QMIDI for Linux")
set(CPACK_PACKAGE_CONTACT "QMIDI for Linux developers <qmidi@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "MIDI and Recomposer song player with WRD scripts, a jukebox and a control library")
set(CPACK_PACKAGE_DESCRIPTION
    "The engine qmidiexe plays Standard MIDI Files and Recomposer songs (.rcp, .r36, .g36, .g18) on up to
four MIDI outputs with its own timer, and shows each song's WRD script (timed Shift-JIS text
and pictures on an emulated 640x400 16-colour screen) in step with the music. The jukebox
quormidi plays lists of songs through it; qmidi-tool gives command-line access to each part
of the engine; libQMIDICTLXControl is the control widget that drives the engine over D-Bus.")
set(CPACK_GENERATOR DEB)
# The package installs into /usr whatever prefix the build was configured with,
# and the install rules see that prefix (the D-Bus activation file names it).
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The control library is the package's own: other binaries may link it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/control)
# What the programs open at run time rather than link: the General MIDI
# sound font, the Japanese fonts of WRD text, and the session bus.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "timgm6mb-soundfont | fluid-soundfont-gm, fonts-ipafont-mincho, fonts-ipafont-gothic, dbus")
# FluidR3's General MIDI font sounds far better than the small one; its GS
# companion adds the GS variation tones and drum kits.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fluid-soundfont-gm")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fluid-soundfont-gs")
include(CPack)
