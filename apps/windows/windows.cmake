# The Windows build (apps/windows/build.sh): the demo alone, cross-built with mingw-w64
# against SDL and libmpg123 built from Debian's source packages (QM_WINDOWS_PREFIX) and
# Debian's mingw zlib, linked statically. The tools, tests and data stay with the native build.
set(QM_WINDOWS_PREFIX "" CACHE PATH "prefix holding SDL and libmpg123 built for Windows")
if(NOT EXISTS ${QM_WINDOWS_PREFIX}/lib/libSDLmain.a OR NOT EXISTS ${QM_WINDOWS_PREFIX}/include/mpg123.h)
  message(FATAL_ERROR "QM_WINDOWS_PREFIX must hold SDL and libmpg123 (apps/windows/build.sh builds them)")
endif()

set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
find_package(OpenGL REQUIRED COMPONENTS OpenGL)

add_library(qm_sdl INTERFACE)
target_include_directories(qm_sdl INTERFACE ${QM_WINDOWS_PREFIX}/include/SDL)
target_link_libraries(qm_sdl INTERFACE ${QM_WINDOWS_PREFIX}/lib/libSDL.dll.a)
add_library(PkgConfig::SDL ALIAS qm_sdl)

add_library(qm_mpg123 INTERFACE)
target_include_directories(qm_mpg123 INTERFACE ${QM_WINDOWS_PREFIX}/include)
target_link_libraries(qm_mpg123 INTERFACE ${QM_WINDOWS_PREFIX}/lib/libmpg123.dll.a)
add_library(PkgConfig::MPG123 ALIAS qm_mpg123)

# With these three defined, the GL headers leave <windows.h> out, so its macros (near, far,
# min, max, ERROR, ...) never reach a demo source; only start.cpp includes it.
add_compile_definitions(APIENTRY=__stdcall WINGDIAPI=__declspec\(dllimport\) CALLBACK=__stdcall)

# The sound layer and the output mapping as natively; the headless context is not needed.
qm_add_sound()
qm_add_output()

qm_add_core()
foreach(dir timeline assets scenes runtime apps/demo)
  add_subdirectory(${CMAKE_SOURCE_DIR}/${dir} ${dir})
endforeach()

# SDL's WinMain (libSDLmain, after mingw's start-up library) calls our main as SDL_main. A
# GUI program opens no console window; start.cpp finds the caller's console, if any.
target_sources(quiet_moss PRIVATE ${CMAKE_SOURCE_DIR}/platform/windows/start.cpp)
target_link_libraries(quiet_moss PRIVATE mingw32 ${QM_WINDOWS_PREFIX}/lib/libSDLmain.a PkgConfig::SDL)
target_link_options(quiet_moss PRIVATE -mwindows -static-libgcc -static-libstdc++)
