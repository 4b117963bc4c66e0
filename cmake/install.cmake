# Installing the program: files, desktop entry, icons, man pages, udev rule, and the .deb.
# The two programs install themselves (cli/ and app/windows/); the rest is here.
set(TESSEL_PACKAGE tessel-usb)
set(TESSEL_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(TESSEL_DOC_DIR share/doc/${TESSEL_PACKAGE})
# Installed folders as Debian wants them, whatever the umask of the one who builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

find_program(TESSEL_GZIP gzip REQUIRED)
# Compressed as Debian policy asks: best compression, no name or time stamp inside.
function(tessel_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${TESSEL_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}")
endfunction()

set(TESSEL_PACKED ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${TESSEL_PACKED})
tessel_gzip(${PROJECT_BINARY_DIR}/cli/tessel.1 ${TESSEL_PACKED}/tessel.1.gz)
tessel_gzip(${TESSEL_PACKAGING}/tessel-gui.1 ${TESSEL_PACKED}/tessel-gui.1.gz)
tessel_gzip(${TESSEL_PACKAGING}/changelog ${TESSEL_PACKED}/changelog.Debian.gz)
add_custom_target(tessel_packed_docs ALL
  DEPENDS ${TESSEL_PACKED}/tessel.1.gz ${TESSEL_PACKED}/tessel-gui.1.gz
          ${TESSEL_PACKED}/changelog.Debian.gz)
add_dependencies(tessel_packed_docs tessel_man_page)

install(FILES ${TESSEL_PACKED}/tessel.1.gz ${TESSEL_PACKED}/tessel-gui.1.gz
        DESTINATION share/man/man1)
install(FILES ${TESSEL_PACKAGING}/tessel-gui.desktop DESTINATION share/applications)
foreach(size 16 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/controls/artwork/program_icon_${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME tessel-usb.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/controls/artwork/program_icon.svg
        DESTINATION share/icons/hicolor/scalable/apps RENAME tessel-usb.svg)
install(FILES ${TESSEL_PACKAGING}/70-tessel-usb.rules DESTINATION lib/udev/rules.d)
install(FILES ${TESSEL_PACKAGING}/copyright ${TESSEL_PACKED}/changelog.Debian.gz
        DESTINATION ${TESSEL_DOC_DIR})

# The .deb: `cpack -G DEB` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TESSEL_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "TesselUSB developers <tessel-usb@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "copy recordings between the PC and a digital-TV receiver over USB")
# The long description: CPack puts the summary above it and indents it as Debian wants.
set(CPACK_PACKAGE_DESCRIPTION
    "TesselUSB copies recordings and other files between this PC and a digital-TV
receiver with a built-in hard disk, reached over USB as raw sectors. It reads
and writes the receiver's own file system itself, resumes partly copied files
and waits for the receiver when the link drops.

The package holds the window program tessel-gui and the command line tessel.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The run-time libraries, from what the binaries link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
