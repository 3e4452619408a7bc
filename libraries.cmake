# The libraries that every build shares (native, browser, Windows), each defined here once; a
# build calls the function once it has found or made what the library links.

# The demo core: timeline, scene script, archive and decoders, scenes, loading steps. Every
# front end links it; each directory adds its own sources.
function(qm_add_core)
  add_library(qm_core STATIC)
  target_include_directories(qm_core PUBLIC ${CMAKE_SOURCE_DIR})
  if(EMSCRIPTEN)
    # Our GL layer over WebGL, which carries the output, and zlib built from its sources.
    target_link_libraries(qm_core PUBLIC qm_gl_compat qm_sound zlib_web)
  else()
    target_link_libraries(qm_core PUBLIC PkgConfig::SDL OpenGL::GL OpenGL::GLU ZLIB::ZLIB
      qm_sound qm_output)
  endif()
endfunction()

# The sound layer, our stand-in for the closed sound library: MP3 streams decoded with
# libmpg123 and played through SDL's audio, or in the browser the page's <audio>.
function(qm_add_sound)
  if(EMSCRIPTEN)
    add_library(qm_sound STATIC ${CMAKE_SOURCE_DIR}/platform/web/fsound_web.cpp)
  else()
    add_library(qm_sound STATIC ${CMAKE_SOURCE_DIR}/platform/fsound.cpp)
    target_link_libraries(qm_sound PUBLIC PkgConfig::SDL PRIVATE PkgConfig::MPG123)
  endif()
  target_include_directories(qm_sound PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()

# The output of any size around the 4:3 picture the scenes draw in their 640 × 480 units. In the
# browser it talks to WebGL itself: the GL layer runs the scenes' viewports through it.
function(qm_add_output)
  add_library(qm_output STATIC ${CMAKE_SOURCE_DIR}/platform/output.cpp)
  target_include_directories(qm_output PUBLIC ${CMAKE_SOURCE_DIR})
  if(NOT EMSCRIPTEN)
    target_link_libraries(qm_output PUBLIC OpenGL::GL)
  endif()
endfunction()
