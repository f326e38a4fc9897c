# The Debian package, made by CPack from what `cmake --install` puts in place (scripts/package):
# the three programs under /usr/bin, the desktop entry, the icons and the manual page.
#
# Its dependencies are written out rather than computed: they are the Debian 12 packages of the
# libraries the programs link (found with ldd and dpkg -S), the CJK font the Chinese window texts
# need, and the authorities https certificates are checked against. libqt6gui6 brings the X11
# platform plugin and libqt6svg6 the SVG icon and image plugins the window's icons load through.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarry)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quarry")
set(CPACK_PACKAGE_CONTACT "Quarry developers <quarry@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "harvest files of one kind in bulk from a web search engine")
set(CPACK_PACKAGE_DESCRIPTION
    "Quarry searches a web search engine for a keyword, reads the result pages and downloads\n\
every file of one kind (images, Word documents, slide decks, PDF files or Excel sheets) with\n\
several threads, recording each in a per-task SQLite database. Tasks form a queue that\n\
survives restarts. The package holds the desktop program quarry, its terminal front end\n\
quarry-cli and quarry-regex, a probe of its regular-expression engine.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # quarry_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, \
libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6svg6 (>= 6.4), \
libsqlite3-0 (>= 3.40), libssl3 (>= 3.0), libxml2 (>= 2.9), libpsl5 (>= 0.21), \
libjpeg62-turbo (>= 1:2.1), libpng16-16 (>= 1.6), libgif7 (>= 5.2), libwebp7 (>= 1.2), \
fonts-wqy-microhei, qt6-translations-l10n, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "publicsuffix")
include(CPack)
