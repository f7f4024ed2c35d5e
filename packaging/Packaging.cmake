# Installation and packages: a Debian package on Linux (cpack -G DEB), and on
# Windows the Qt runtime and QML modules deployed beside caprello.exe.
include(GNUInstallDirs)

install(TARGETS caprello RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/caprello.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/icons/caprello.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

if(WIN32)
    # windeployqt (a Windows Qt install has it) copies the Qt libraries, plugins and
    # the QML modules our documents import (found by scanning the qml folder) next
    # to the program. A MinGW cross build from Linux has none: there
    # scripts/package-windows.sh deploys the same set.
    get_target_property(_qmake Qt6::qmake IMPORTED_LOCATION)
    get_filename_component(_qt_bin "${_qmake}" DIRECTORY)
    find_program(CAPRELLO_WINDEPLOYQT windeployqt HINTS "${_qt_bin}")
    if(CAPRELLO_WINDEPLOYQT)
        install(CODE "
            execute_process(COMMAND \"${CAPRELLO_WINDEPLOYQT}\" --release --no-translations
                    --qmldir \"${PROJECT_SOURCE_DIR}/qml\"
                    \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/caprello.exe\"
                RESULT_VARIABLE _rc)
            if(NOT _rc EQUAL 0)
                message(FATAL_ERROR \"windeployqt failed: \${_rc}\")
            endif()")
    else()
        message(STATUS "windeployqt not found: deploy with scripts/package-windows.sh")
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
endif()

if(UNIX AND NOT APPLE)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/caprello)
endif()

set(CPACK_PACKAGE_NAME caprello)
set(CPACK_PACKAGE_VENDOR "Caprello developers")
set(CPACK_PACKAGE_CONTACT "Caprello developers <caprello@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop recorder for the screen and for sound, driving FFmpeg")
set(CPACK_PACKAGE_DESCRIPTION "Caprello records the whole desktop, a rectangle drawn on screen, or sound only,
with separate gains for the system sound and the microphone, and lists the recordings
in ScreenRecordings on the desktop. FFmpeg does the capturing and encoding.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# Shared libraries (Qt, libpulse, libxcb) are found by dpkg-shlibdeps; QML modules and the
# programs run at run time are not, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "ffmpeg, qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-layouts, qml6-module-qtquick-window, qml6-module-qtquick-templates, qml6-module-qtqml-workerscript, qt6-qpa-plugins, qt6-wayland, gstreamer1.0-tools, gstreamer1.0-pipewire, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-color-emoji | fonts-symbola, xdg-utils")
include(CPack)
