# The input line's toolkit-free rules (key-binding file, completion, the
# replace rule): tested with the unit tests, without a display. GDK is used
# only for key names.
if(NOT TARGET lumenwick_inputmodel)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(INPUT_GDK REQUIRED IMPORTED_TARGET GLOBAL gdk-3.0)
  set(FE_GTK_INPUTMODEL_DIR ${CMAKE_SOURCE_DIR}/src/fe-gtk)
  set(FE_GTK_INPUTMODEL_SOURCES
      ${FE_GTK_INPUTMODEL_DIR}/input/keybindings.cpp
      ${FE_GTK_INPUTMODEL_DIR}/input/completion.cpp
      ${FE_GTK_INPUTMODEL_DIR}/input/replace.cpp)
  add_library(lumenwick_inputmodel STATIC ${FE_GTK_INPUTMODEL_SOURCES})
  target_include_directories(lumenwick_inputmodel PUBLIC ${FE_GTK_INPUTMODEL_DIR} ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(lumenwick_inputmodel PUBLIC lumenwick_core PkgConfig::INPUT_GDK)
endif()
