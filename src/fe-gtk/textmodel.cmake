# The text view's buffer model and the palette: no GTK, so their tests,
# benchmarks and fuzz targets build and run without a display (and in the
# builds that leave the GTK front end out).
if(NOT TARGET lumenwick_textmodel)
  set(FE_GTK_MODEL_DIR ${CMAKE_SOURCE_DIR}/src/fe-gtk)
  set(FE_GTK_MODEL_SOURCES
      ${FE_GTK_MODEL_DIR}/textview/xtext-model.cpp
      ${FE_GTK_MODEL_DIR}/theme/palette.cpp
      ${FE_GTK_MODEL_DIR}/theme/theme-runtime.cpp
      ${FE_GTK_MODEL_DIR}/input/input-attrs.cpp)
  add_library(lumenwick_textmodel STATIC ${FE_GTK_MODEL_SOURCES})
  target_include_directories(lumenwick_textmodel PUBLIC ${FE_GTK_MODEL_DIR})
  target_link_libraries(lumenwick_textmodel PUBLIC lumenwick_core)
endif()
