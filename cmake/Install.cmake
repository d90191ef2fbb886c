# What `cmake --install` and the Debian package put on the machine: the program, its menu
# entry and icons, AppStream metadata, the manual page, and the doc folder with the user
# manual that the Help menu opens.

install(TARGETS bumple RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# One identity: the menu entry's file name is the AppStream id. The version is the project's,
# written into the metadata, the manual page and the changelog from here.
set(BUMPLE_APP_ID example.quellmoor.Bumple)
foreach(file ${BUMPLE_APP_ID}.metainfo.xml bumple.1 changelog)
  configure_file(packaging/${file}.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/${file} @ONLY)
endforeach()
install(FILES res/${BUMPLE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/${BUMPLE_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The icons under their theme names: the program looks them up by these names first. The
# scalable ones are the sources; the PNGs are made from them for panels and menus that want
# a fixed size.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(BUMPLE_ICON_SIZES 16 22 24 32 48 64 128)
set(BUMPLE_ICONS 128:bumple 130:bumple-stopped 131:bumple-waiting)
set(BUMPLE_PNG_ICONS)
foreach(icon ${BUMPLE_ICONS})
  string(REPLACE ":" ";" parts ${icon})
  list(GET parts 0 id)
  list(GET parts 1 name)
  install(FILES res/icons/${id}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    RENAME ${name}.svg)
  foreach(size ${BUMPLE_ICON_SIZES})
    set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}/${name}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
              ${CMAKE_CURRENT_SOURCE_DIR}/res/icons/${id}.svg
      DEPENDS res/icons/${id}.svg VERBATIM)
    list(APPEND BUMPLE_PNG_ICONS ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endforeach()

# Debian wants the manual page and the changelog compressed, without a time stamp.
set(BUMPLE_GZIPPED)
foreach(file bumple.1 changelog)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz
    COMMAND gzip -9n -c ${CMAKE_CURRENT_BINARY_DIR}/packaging/${file}
            > ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/${file})
  list(APPEND BUMPLE_GZIPPED ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz)
endforeach()
add_custom_target(bumple_data ALL DEPENDS ${BUMPLE_PNG_ICONS} ${BUMPLE_GZIPPED})

install(FILES ${CMAKE_CURRENT_BINARY_DIR}/bumple.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md LICENSE packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The user manual and the pictures, at the relative paths the README's and the manual's links
# use.
install(FILES docs/manual.html DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(DIRECTORY docs/screenshots DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
  FILES_MATCHING PATTERN "*.png")
