// Scene module Helmet: from inside a turning shell of striped spikes in depth fog, a dot text
// glides over a leaning purple wall, lit only where one light's beams reach it (entry 28).
#pragma once

// Loader: reads the scroller text "helmet", unpacks the shared dot font, builds the shell.
void Helmet_Load(void);
// Init of entry 28: GL state and the view, bar, wall camera, wall, fog and glow lists.
void Helmet_Init(void);
// Entry 28: the shell turning about the viewer in fog, the wall and its lit scroller, pillarboxed.
void Helmet_Render(void);

// The render's two drawing steps, public so that single spikes and dots can be drawn alone.

// One spike facet p0 (tip) p1 p2 as 16 bands from tip to base, shading between the current
// two stripe colours.
void Helmet_DrawStripedTriangle(const float *p0, const float *p1, const float *p2);
// A glowing disc at helmet_dot and four beams from it to the light, brighter the nearer it is.
void Helmet_DrawDot(void);

// The dot Helmet_DrawDot draws; the scroller sets it before each dot.
extern float helmet_dot[3];
// The shell, [ring][tilt][facet]: tip and two base vertices of every spike facet.
extern float helmet_spikes[18][4][8][3][3];
