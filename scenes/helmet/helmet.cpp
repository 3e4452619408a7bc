// Scene module Helmet (to come): until it lands, its loader only unpacks the shared dot font,
// which the finale's loader reads.
#include "scenes/helmet/helmet.h"

#include "scenes/dot_font.h"

void Helmet_Load(void)
{
    DotFont_Unpack();
}
