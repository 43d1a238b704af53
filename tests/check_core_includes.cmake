# Fails when a file of the core includes a header of Qt, ALSA, FluidSynth,
# D-Bus, FreeType or fontconfig. The engine host and the settings store on
# QSettings are program-side and may.
file(GLOB_RECURSE files ${ROOT}/support/*.h ${ROOT}/support/*.cpp ${ROOT}/engine/*.h ${ROOT}/engine/*.cpp)
set(bad "")
foreach(f IN LISTS files)
  if(f MATCHES "/engine/host/" OR f MATCHES "/support/settings/")
    continue()
  endif()
  file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|qt|alsa/|fluidsynth|dbus/|ft2build|freetype|fontconfig|png)")
  if(lines)
    list(APPEND bad "${f}: ${lines}")
  endif()
endforeach()
if(bad)
  string(REPLACE ";" "\n" bad "${bad}")
  message(FATAL_ERROR "core files include forbidden headers:\n${bad}")
endif()
