# quormidi_parts: the jukebox's list editor (TAUTOF), file commands
# (TOKBottomDlg, copy, move, delete, search), reopen history and sort.
# Included by jukebox/CMakeLists.txt; file names are relative to this file.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
set(_parts ${CMAKE_CURRENT_LIST_DIR})
add_library(quormidi_parts STATIC
  ${_parts}/song_files.h ${_parts}/song_files.cpp
  ${_parts}/song_sources.h ${_parts}/song_sources.cpp
  ${_parts}/play_list_edits.h ${_parts}/play_list_edits.cpp
  ${_parts}/history.h ${_parts}/history.cpp
  ${_parts}/settings_access.h
  ${_parts}/list_editor.h ${_parts}/list_editor.cpp
  ${_parts}/file_commands.h ${_parts}/file_commands.cpp
  ${_parts}/quor_commands.h ${_parts}/quor_commands.cpp
  ${_parts}/jukebox_commands.h)
set_target_properties(quormidi_parts PROPERTIES AUTOMOC ON)
target_include_directories(quormidi_parts PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quormidi_parts PUBLIC qmidi_support QMIDICTLXControl Qt6::Widgets)
unset(_parts)
