// Scene module H: two translucent trails of the mascot spinning against each other between
// black bars, with mirrored swarms of glowing sparks streaming past (entries 4 to 7).
#pragma once

// Loader: the logo, the mascot and its 19 turned copies, the spark layout (2000 rand draws).
void Mascot_Load(void);
// Init of entry 4: GL state, the logo, bar and trail lists.
void Mascot_Init(void);
// Entries 4 and 6: the bars' inner edges fade open (entry 4) or closed (entry 6).
void Mascot_RenderA(void);
// Entry 5: the bars stand open, the logo shows on the lower bar.
void Mascot_RenderB(void);
// Entry 7: the bars close and the gaps between them fill until the screen is black.
void Mascot_RenderC(void);

// One spark at spark_position in the current matrices: a soft octagon in each axis plane in
// spark_colour's red, green and blue, and four faint beams to the origin. Radius and alpha
// fall with the distance from the origin; nothing is drawn from 600 on. The renders set both
// before every spark; they are public so that a spark can be drawn on its own.
void Mascot_DrawSpark(void);
extern float spark_position[3];
extern float spark_colour[4];
