# The desktop's view of Narrabel: menu entry, icon and AppStream data, installed
# under the prefix (cmake --install), and a Debian package (cpack -G DEB).
include(GNUInstallDirs)

# The icon is built in too, for a program started from its build tree.
qt_add_resources(narrabel_gui "narrabel_icon" PREFIX "/narrabel" BASE "${CMAKE_CURRENT_LIST_DIR}"
    FILES "${CMAKE_CURRENT_LIST_DIR}/narrabel.svg")

install(FILES ${CMAKE_CURRENT_LIST_DIR}/narrabel.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/narrabel.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/narrabel.metainfo.xml
    RENAME org.narrabel.Narrabel.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_PACKAGE_NAME narrabel)
set(CPACK_PACKAGE_VENDOR "Narrabel developers")
set(CPACK_PACKAGE_CONTACT "Narrabel developers <narrabel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Audio book reader with bookmarks and tag tools")
set(CPACK_PACKAGE_DESCRIPTION
    "Narrabel lets a listener stop anywhere in a long audio file, leave named bookmarks\n\
at exact positions and come back later. It carries its own ID3v2 tag editor and a\n\
renamer that keeps bookmarks pointing at renamed files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://narrabel.example/")
# The shared libraries are found by dpkg-shlibdeps; what is loaded at run time
# (GStreamer plugins, Qt platform and SVG plugins, the sound server's client
# plugin) is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-pulseaudio | gstreamer1.0-pipewire, qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly, gstreamer1.0-libav, timgm6mb-soundfont, xdg-utils")
include(CPack)
