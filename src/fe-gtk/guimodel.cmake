# The main window's toolkit-free rules (switcher order and truncation, tab
# state, tab colours, closed tabs, layout slots, the user-list row index):
# tested with the unit tests, without a display.
if(NOT TARGET lumenwick_guimodel)
  set(FE_GTK_GUIMODEL_DIR ${CMAKE_SOURCE_DIR}/src/fe-gtk)
  set(FE_GTK_GUIMODEL_SOURCES
      ${FE_GTK_GUIMODEL_DIR}/switcher/chanview-model.cpp
      ${FE_GTK_GUIMODEL_DIR}/mainwin/tabstate.cpp
      ${FE_GTK_GUIMODEL_DIR}/mainwin/button-commands.cpp)
  add_library(lumenwick_guimodel STATIC ${FE_GTK_GUIMODEL_SOURCES})
  target_include_directories(lumenwick_guimodel PUBLIC ${FE_GTK_GUIMODEL_DIR} ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(lumenwick_guimodel PUBLIC lumenwick_core)
endif()
