# The owner-drawn widgets, their artwork embedded in the program.

# The PNG decoder alone: no window library, so it can be built and fed bytes on its own.
add_library(tessel_png_decoder STATIC ${CMAKE_CURRENT_LIST_DIR}/png_decoder.cpp)
target_link_libraries(tessel_png_decoder PUBLIC PkgConfig::LIBPNG)

# The artwork's PNG bytes as a C++ source, made again whenever a picture changes.
set(tessel_artwork
    ButtonSkin ${CMAKE_CURRENT_LIST_DIR}/artwork/button_skin.png
    SearchIcon ${CMAKE_CURRENT_LIST_DIR}/artwork/search_icon.png
    Gloss ${CMAKE_CURRENT_LIST_DIR}/artwork/gloss.png
    ProgramIcon16 ${CMAKE_CURRENT_LIST_DIR}/artwork/program_icon_16.png
    ProgramIcon32 ${CMAKE_CURRENT_LIST_DIR}/artwork/program_icon_32.png
    ProgramIcon48 ${CMAKE_CURRENT_LIST_DIR}/artwork/program_icon_48.png)
set(tessel_artwork_files ${tessel_artwork})
list(FILTER tessel_artwork_files INCLUDE REGEX "\\.png$")
set(tessel_artwork_source ${CMAKE_CURRENT_BINARY_DIR}/artwork_bytes.cpp)
add_custom_command(
  OUTPUT ${tessel_artwork_source}
  COMMAND ${CMAKE_COMMAND} "-DOUTPUT=${tessel_artwork_source}" "-DARTWORK=${tessel_artwork}"
          -P ${CMAKE_CURRENT_LIST_DIR}/embed_artwork.cmake
  DEPENDS ${tessel_artwork_files} ${CMAKE_CURRENT_LIST_DIR}/embed_artwork.cmake
  COMMENT "Embedding the widgets' artwork"
  VERBATIM)

add_library(tessel_widgets STATIC
  ${tessel_artwork_source}
  ${CMAKE_CURRENT_LIST_DIR}/auto_font.cpp
  ${CMAKE_CURRENT_LIST_DIR}/color_static_st.cpp
  ${CMAKE_CURRENT_LIST_DIR}/icon_edit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/icon_wnd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/link_opener.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markup_layout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mem_dc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/nine_slice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pie_percent.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pie_progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sx_button.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vista_bar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zip_dc.cpp)
target_link_libraries(tessel_widgets PUBLIC tessel_wx PkgConfig::LIBPNG tessel_log
                      tessel_png_decoder)
