# Library targets per folder, and the rule that keeps the core free of
# window-system, audio and bus libraries: core libraries may link only
# std-only libraries (other core libraries and platform interface headers).

set(QMIDI_FORBIDDEN_CORE_LINKS Qt6 Qt5 asound fluidsynth dbus freetype fontconfig png
    CACHE INTERNAL "libraries the core must never link")

# qmidi_core_library(<name> SOURCES ... [DEPS ...])
function(qmidi_core_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  foreach(dep IN LISTS ARG_DEPS)
    foreach(bad IN LISTS QMIDI_FORBIDDEN_CORE_LINKS)
      string(FIND "${dep}" "${bad}" hit)
      if(NOT hit EQUAL -1)
        message(FATAL_ERROR "core library ${name} must not link ${dep}")
      endif()
    endforeach()
    if(TARGET ${dep})
      get_target_property(kind ${dep} QMIDI_KIND)
      if(NOT kind STREQUAL "core" AND NOT kind STREQUAL "interface")
        message(FATAL_ERROR "core library ${name} may link only core libraries and platform interfaces, not ${dep}")
      endif()
    endif()
  endforeach()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES QMIDI_KIND core POSITION_INDEPENDENT_CODE ON)
endfunction()

# A header-only interface (std only) that core libraries may use.
function(qmidi_platform_interface name)
  add_library(${name} INTERFACE)
  target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES QMIDI_KIND interface)
endfunction()

# A platform backend or program-side library: may use anything.
function(qmidi_backend_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES QMIDI_KIND backend POSITION_INDEPENDENT_CODE ON)
endfunction()

# Adds libraries to qmidi-tool's link (call before tools/ is configured,
# that is from platform/ or engine/).
function(qmidi_tool_link)
  set_property(GLOBAL APPEND PROPERTY QMIDI_TOOL_EXTRA_LIBS ${ARGN})
endfunction()

# Finds a package a backend needs. In the core-only configuration a missing
# package leaves the backend out (result FALSE) instead of failing, so that
# the core builds on a machine without the backends' libraries.
macro(qmidi_backend_package result package)
  if(QMIDI_CORE_ONLY)
    find_package(${package} QUIET ${ARGN})
    string(TOUPPER ${package} _qmidi_upper)
    if(${package}_FOUND OR ${_qmidi_upper}_FOUND)
      set(${result} TRUE)
    else()
      message(STATUS "core-only build: ${package} not found, its backend is left out")
      set(${result} FALSE)
    endif()
  else()
    find_package(${package} REQUIRED ${ARGN})
    set(${result} TRUE)
  endif()
  # qmidi-tool's module links the backends' libraries from its own folder.
  if(TARGET ${package}::${package})
    get_target_property(_qmidi_global ${package}::${package} IMPORTED_GLOBAL)
    if(NOT _qmidi_global)
      set_target_properties(${package}::${package} PROPERTIES IMPORTED_GLOBAL TRUE)
    endif()
  endif()
endmacro()
