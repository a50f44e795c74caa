# The source tree's rooms as libraries, each linking only what its room may
# use. Beyond the linker, headers of a library a room must not use are
# shadowed on that room's include path by headers of the same name that stop
# the compile, since FFmpeg's and libmpv's headers sit on the compiler's
# default path and Qt's all share one folder: an include across a forbidden
# edge fails at once, naming the rule.

# Writes, under dir, a stopping header for every header below each of the
# given folders of root (keeping the folder), and with TOP also for each
# header name alone, unless one of the same name is in a folder of KEEP.
function(trimora_shadow_headers dir message root)
  cmake_parse_arguments(S "TOP" "" "FOLDERS;KEEP" ${ARGN})
  foreach(folder ${S_FOLDERS})
    file(GLOB headers LIST_DIRECTORIES false RELATIVE ${root}/${folder} ${root}/${folder}/*)
    foreach(header ${headers})
      set(text "#error \"${message} (<${folder}/${header}>)\"\n")
      if(NOT EXISTS ${dir}/${folder}/${header})
        file(WRITE ${dir}/${folder}/${header} "${text}")
      endif()
      set(kept FALSE)
      foreach(keep ${S_KEEP})
        if(EXISTS ${root}/${keep}/${header})
          set(kept TRUE)
        endif()
      endforeach()
      if(S_TOP AND NOT kept AND NOT EXISTS ${dir}/${header})
        file(WRITE ${dir}/${header} "${text}")
      endif()
    endforeach()
  endforeach()
endfunction()

set(TRIMORA_SHADOWS ${CMAKE_BINARY_DIR}/shadowed-headers)
pkg_get_variable(TRIMORA_FFMPEG_HEADERS libavformat includedir)
pkg_get_variable(TRIMORA_MPV_HEADERS mpv includedir)
trimora_shadow_headers(${TRIMORA_SHADOWS}/medialibs
  "only src/media may talk to FFmpeg and libmpv" ${TRIMORA_FFMPEG_HEADERS}
  FOLDERS libavcodec libavdevice libavfilter libavformat libavutil libpostproc libswresample
          libswscale)
trimora_shadow_headers(${TRIMORA_SHADOWS}/medialibs
  "only src/media may talk to FFmpeg and libmpv" ${TRIMORA_MPV_HEADERS} FOLDERS mpv)
set(TRIMORA_QT_HEADERS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_HEADERS})
trimora_shadow_headers(${TRIMORA_SHADOWS}/widgets
  "only src/views and src/app may use Qt Widgets" ${TRIMORA_QT_HEADERS} TOP
  FOLDERS QtWidgets QtOpenGLWidgets QtSvgWidgets KEEP QtCore QtGui QtOpenGL QtSvg)

# The rooms of src/ themselves: a room may use those below it in the map
# (core, media, then analysis and export, then model, views, app), never one
# above it. For each room, a set shadowing its headers.
foreach(room core media analysis export model views app)
  file(GLOB headers RELATIVE ${CMAKE_SOURCE_DIR}/src/${room} ${CMAKE_SOURCE_DIR}/src/${room}/*.h)
  foreach(header ${headers})
    set(shadow ${TRIMORA_SHADOWS}/${room}-room/${room}/${header})
    if(NOT EXISTS ${shadow})
      file(WRITE ${shadow} "#error \"this room may not use src/${room}: the arrows of the map run \
the other way (${room}/${header})\"\n")
    endif()
  endforeach()
endforeach()

# trimora_room(name [FORBID medialibs|widgets|<room>-room ...] [LINK targets ...]): the
# library trimora_<name> of src/<name>.
function(trimora_room name)
  cmake_parse_arguments(R "" "" "FORBID;LINK;EXTRA" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.cpp
       ${CMAKE_SOURCE_DIR}/src/${name}/*.h)
  list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/src/app/main.cpp)
  add_library(trimora_${name} STATIC ${sources} ${R_EXTRA})
  target_include_directories(trimora_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(trimora_${name} ${R_LINK})
  trimora_forbid(trimora_${name} ${R_FORBID})
  set_property(TARGET trimora_${name} PROPERTY TRIMORA_FORBID ${R_FORBID})
endfunction()

function(trimora_forbid target)
  foreach(shadow ${ARGN})
    target_include_directories(${target} BEFORE PRIVATE ${TRIMORA_SHADOWS}/${shadow})
  endforeach()
endfunction()
