# The program's own images: each SVG under icons/ becomes "/icons/<name>.png"
# in a GResource compiled into the front end (registered by a constructor, so
# every program linking lumenwick_gtk has them).
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(GLIB_COMPILE_RESOURCES glib-compile-resources REQUIRED)

file(GLOB LWK_ICON_SVGS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/*.svg)
set(LWK_ICON_DIR ${CMAKE_CURRENT_BINARY_DIR}/icons)
set(LWK_ICON_PNGS)
set(LWK_GRESOURCE_FILES "")
foreach(svg ${LWK_ICON_SVGS})
  get_filename_component(name ${svg} NAME_WE)
  # The window icon and the about box's logo are shown larger.
  if(name STREQUAL "lumenwick")
    set(size 64)
  else()
    set(size 16)
  endif()
  add_custom_command(OUTPUT ${LWK_ICON_DIR}/${name}.png
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${LWK_ICON_DIR}
                     COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${LWK_ICON_DIR}/${name}.png ${svg}
                     DEPENDS ${svg} VERBATIM)
  list(APPEND LWK_ICON_PNGS ${LWK_ICON_DIR}/${name}.png)
  string(APPEND LWK_GRESOURCE_FILES "    <file>${name}.png</file>\n")
endforeach()

set(LWK_GRESOURCE_XML ${CMAKE_CURRENT_BINARY_DIR}/lumenwick-icons.gresource.xml)
file(WRITE ${LWK_GRESOURCE_XML}.in "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<gresources>
  <gresource prefix=\"/icons\">
${LWK_GRESOURCE_FILES}  </gresource>
</gresources>
")
configure_file(${LWK_GRESOURCE_XML}.in ${LWK_GRESOURCE_XML} COPYONLY)

set(LWK_GRESOURCE_C ${CMAKE_CURRENT_BINARY_DIR}/lumenwick-icons-resources.c)
add_custom_command(OUTPUT ${LWK_GRESOURCE_C}
                   COMMAND ${GLIB_COMPILE_RESOURCES} --sourcedir=${LWK_ICON_DIR} --target=${LWK_GRESOURCE_C}
                           --generate-source --c-name lumenwick_icons ${LWK_GRESOURCE_XML}
                   DEPENDS ${LWK_GRESOURCE_XML} ${LWK_ICON_PNGS} VERBATIM)

# Under the program's name (the tray's theme name) and its application id
# (the name windows and the desktop file ask the theme for).
foreach(icon_name lumenwick org.lumenwick.Lumenwick)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/lumenwick.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${icon_name}.svg)
  install(FILES ${LWK_ICON_DIR}/lumenwick.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
          RENAME ${icon_name}.png)
endforeach()
