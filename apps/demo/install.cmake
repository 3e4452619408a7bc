# `make install` and the Debian package: laid out as Debian lays out games. The programs sit
# in a private folder, the archive and soundtrack in a data folder, and a launcher in games/
# starts the demo from the data folder, where it reads them. qm-capture, whose default data
# folder is its own, finds them through links beside it; it and zaf are on the PATH.
set(QM_ID org.quietmoss.QuietMoss)
set(program_dir lib/games/quiet-moss)
set(data_dir share/games/quiet-moss)
set(staged ${CMAKE_BINARY_DIR}/install)

install(TARGETS quiet_moss qm-capture DESTINATION ${program_dir})
install(TARGETS zaf DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/quiet_moss.zaf ${CMAKE_BINARY_DIR}/quiet_moss.mp3
  DESTINATION ${data_dir})

configure_file(${CMAKE_CURRENT_LIST_DIR}/launcher.sh.in ${staged}/quiet_moss @ONLY)
install(PROGRAMS ${staged}/quiet_moss DESTINATION games)

file(RELATIVE_PATH program_from_bin /bin /${program_dir})
file(RELATIVE_PATH data_from_program /${program_dir} /${data_dir})
file(MAKE_DIRECTORY ${staged}/links)
file(CREATE_LINK ${program_from_bin}/qm-capture ${staged}/links/qm-capture SYMBOLIC)
install(FILES ${staged}/links/qm-capture DESTINATION bin)
foreach(data quiet_moss.zaf quiet_moss.mp3)
  file(CREATE_LINK ${data_from_program}/${data} ${staged}/links/${data} SYMBOLIC)
  install(FILES ${staged}/links/${data} DESTINATION ${program_dir})
endforeach()

install(FILES ${CMAKE_CURRENT_LIST_DIR}/quiet_moss.6 DESTINATION share/man/man6)
install(FILES ${CMAKE_SOURCE_DIR}/apps/capture/qm-capture.1 ${CMAKE_SOURCE_DIR}/tools/zaf/zaf.1
  DESTINATION share/man/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${QM_ID}.desktop DESTINATION share/applications)
# The release's date is SOURCE_DATE_EPOCH's day where a release build sets it.
string(TIMESTAMP QM_RELEASE_DATE "%Y-%m-%d" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/${QM_ID}.metainfo.xml.in ${staged}/${QM_ID}.metainfo.xml
  @ONLY)
install(FILES ${staged}/${QM_ID}.metainfo.xml DESTINATION share/metainfo)

# The icon: a square cut from the logo's left, its moss cushion, at each usual size.
set(logo ${CMAKE_SOURCE_DIR}/data/pictures/logo.svg)
set(icons)
foreach(size 16 32 48 64 128 256)
  set(icon ${staged}/icons/${size}x${size}/apps/${QM_ID}.png)
  math(EXPR width "640 * ${size} / 64")
  math(EXPR left "-90 * ${size} / 64")
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${staged}/icons/${size}x${size}/apps
    COMMAND ${RSVG_CONVERT} --format=png --width=${width} --height=${size} --page-width=${size}
            --page-height=${size} --left=${left} --top=0 --output=${icon} ${logo}
    DEPENDS ${logo}
    VERBATIM)
  list(APPEND icons ${icon})
endforeach()
add_custom_target(qm_icons ALL DEPENDS ${icons})
install(DIRECTORY ${staged}/icons/ DESTINATION share/icons/hicolor)
