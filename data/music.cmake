# The soundtrack: qm-synth renders the score in data/music/ into build/quiet_moss.mp3. It is
# rebuilt only when the score or the synthesiser changes.
set(qm_score ${CMAKE_CURRENT_SOURCE_DIR}/music/quiet_moss.score)
set(qm_soundtrack ${CMAKE_BINARY_DIR}/quiet_moss.mp3)
add_custom_command(OUTPUT ${qm_soundtrack}
  COMMAND qm-synth ${qm_score} ${qm_soundtrack}
  DEPENDS qm-synth ${qm_score}
  COMMENT "Rendering the soundtrack"
  VERBATIM)
add_custom_target(qm_music DEPENDS ${qm_soundtrack})
add_dependencies(qm_data qm_music)
