// The scene script: the demo's 43 scene entries (the last an empty terminator) and the
// header that points at them.
#pragma once

#include "timeline/timeline.h"

constexpr int scene_entry_count = 43;

extern SceneEntry scene_entries[scene_entry_count];
extern SceneScript scene_script;

// The "-debug" option's edit of the header: play from entry `offset`, starting at demo time
// `start` and ending by `end` at the latest. The switches left shrink by offset, so a repeated
// edit is held to what the earlier ones left.
void SceneScript_Debug(float start, float end, int offset);
// Restores the table and header to their authored values (derived fields 0), undoing both
// Timeline_Prepare's derivations and the "-debug" edits.
void SceneScript_Reset(void);
