# quiet_moss.zaf, built from the editable sources in this folder: every picture is an SVG
# rasterised with rsvg-convert, the meshes are written by meshgen, the texts are trimmed and
# checked by texts/prepare.cmake; zaf pack then puts them together as manifest.txt lists.
# Everything made on the way lands in build/data/.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(qm_data_dir ${CMAKE_BINARY_DIR}/data)
set(qm_archive ${CMAKE_BINARY_DIR}/quiet_moss.zaf)
set(qm_archive_sources)

# Pictures. A picture that shows another one behind it names it here and holds its built PNG
# in an <image>: rsvg-convert decodes a PNG itself, where an SVG inside an SVG would need
# gdk-pixbuf's optional SVG loader and, without it, silently leaves a hole. It finds that PNG
# beside the SVG, so such a picture is rasterised from a copy in build/data/.
set(qm_pictures bootpic logo fri1 fri2 oczka creeds brzydalek fel siekierka butterfly)
set(qm_picture_uses_brzydalek fel)
foreach(picture ${qm_pictures})
  set(svg ${CMAKE_CURRENT_SOURCE_DIR}/pictures/${picture}.svg)
  set(input ${svg})
  set(copy)
  set(uses ${qm_picture_uses_${picture}})
  if(uses)
    set(input ${qm_data_dir}/${picture}.svg)
    set(copy COMMAND ${CMAKE_COMMAND} -E copy ${svg} ${input})
    list(TRANSFORM uses PREPEND ${qm_data_dir}/)
    list(TRANSFORM uses APPEND .png)
  endif()
  add_custom_command(OUTPUT ${qm_data_dir}/${picture}.png
    COMMAND ${CMAKE_COMMAND} -E make_directory ${qm_data_dir}
    ${copy}
    COMMAND ${RSVG_CONVERT} --format=png --output=${qm_data_dir}/${picture}.png ${input}
    DEPENDS ${svg} ${uses}
    COMMENT "Rasterising pictures/${picture}.svg"
    VERBATIM)
  list(APPEND qm_archive_sources ${qm_data_dir}/${picture}.png)
endforeach()

# Meshes, rebuilt whenever meshgen is.
foreach(mesh lemurbandit lodyga)
  add_custom_command(OUTPUT ${qm_data_dir}/${mesh}.obj
    COMMAND ${CMAKE_COMMAND} -E make_directory ${qm_data_dir}
    COMMAND $<TARGET_FILE:meshgen> ${mesh} ${qm_data_dir}/${mesh}.obj
    DEPENDS meshgen
    COMMENT "Generating mesh ${mesh}"
    VERBATIM)
  list(APPEND qm_archive_sources ${qm_data_dir}/${mesh}.obj)
endforeach()

# Scroller texts, each exactly as long as its scene draws.
foreach(text helmet:142 water:110)
  string(REPLACE ":" ";" text ${text})
  list(GET text 0 name)
  list(GET text 1 length)
  add_custom_command(OUTPUT ${qm_data_dir}/${name}.txt
    COMMAND ${CMAKE_COMMAND} -E make_directory ${qm_data_dir}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/texts/${name}.txt
            -DOUTPUT=${qm_data_dir}/${name}.txt -DLENGTH=${length}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/texts/prepare.cmake
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/texts/${name}.txt ${CMAKE_CURRENT_SOURCE_DIR}/texts/prepare.cmake
    COMMENT "Checking texts/${name}.txt"
    VERBATIM)
  list(APPEND qm_archive_sources ${qm_data_dir}/${name}.txt)
endforeach()

add_custom_command(OUTPUT ${qm_archive}
  COMMAND $<TARGET_FILE:zaf> pack ${qm_archive} ${CMAKE_CURRENT_SOURCE_DIR}/manifest.txt -I ${qm_data_dir}
  DEPENDS zaf ${CMAKE_CURRENT_SOURCE_DIR}/manifest.txt ${qm_archive_sources}
  COMMENT "Packing quiet_moss.zaf"
  VERBATIM)
add_custom_target(qm_archive DEPENDS ${qm_archive})
add_dependencies(qm_data qm_archive)
