# The browser build: the demo core compiled by emscripten, with our GL layer under the scenes,
# the sound layer over the page's <audio>, and zlib compiled from Debian's source package.
set(ZLIB_SOURCE_DIR "" CACHE PATH "zlib's source tree (from Debian's source package)")
if(NOT EXISTS ${ZLIB_SOURCE_DIR}/inflate.c)
  message(FATAL_ERROR "ZLIB_SOURCE_DIR must name zlib's sources (apps/web/build.sh fetches them)")
endif()

set(web_dir ${CMAKE_SOURCE_DIR}/platform/web)
set(app_dir ${CMAKE_SOURCE_DIR}/apps/web)

# Only what uncompress needs.
add_library(zlib_web STATIC)
foreach(source adler32 crc32 inffast inflate inftrees uncompr zutil)
  target_sources(zlib_web PRIVATE ${ZLIB_SOURCE_DIR}/${source}.c)
endforeach()
target_include_directories(zlib_web PUBLIC ${ZLIB_SOURCE_DIR})
target_compile_options(zlib_web PRIVATE -w)

add_library(qm_gl_compat STATIC ${web_dir}/gl_compat.cpp)
target_include_directories(qm_gl_compat PUBLIC ${CMAKE_SOURCE_DIR})

qm_add_sound()
qm_add_output()
target_link_libraries(qm_gl_compat PUBLIC qm_output)

qm_add_core()
foreach(dir timeline assets scenes runtime player)
  add_subdirectory(${dir})
endforeach()

# glibc's rand() as an object of the program itself, so that it wins over the C library's.
add_executable(quiet_moss ${app_dir}/web_main.cpp ${web_dir}/glibc_rand.cpp)
target_link_libraries(quiet_moss PRIVATE qm_player)
target_link_options(quiet_moss PRIVATE
  -sLEGACY_GL_EMULATION=1
  -sALLOW_MEMORY_GROWTH=1
  -sFORCE_FILESYSTEM=1
  -sEXPORTED_FUNCTIONS=_main,_qm_start,_qm_seek,_qm_run,_qm_clock,_qm_rate,_qm_nudge,_qm_escape,_qm_resize,_qm_entry_start
  -sEXPORTED_RUNTIME_METHODS=ccall,FS
  # A factory rather than one global instance: after a lost WebGL context the page starts a
  # second instance on a fresh canvas.
  -sMODULARIZE=1
  -sEXPORT_NAME=QuietMoss)
