# Removes every file that an install listed in its manifest, under $ENV{DESTDIR} when that is set.
# Usage: cmake -D MANIFEST=build/install_manifest.txt -P desktop/uninstall.cmake
if(NOT DEFINED MANIFEST)
  message(FATAL_ERROR "Say which install to undo: -D MANIFEST=<build>/install_manifest.txt")
endif()
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "${MANIFEST} does not exist, so nothing was installed from this build.")
endif()

file(STRINGS "${MANIFEST}" installed)
foreach(file IN LISTS installed)
  set(path "$ENV{DESTDIR}${file}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
  endif()
endforeach()
