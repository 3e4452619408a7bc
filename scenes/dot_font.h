// The 8 x 5 dot font of the scroller texts, for character codes 33 ('!') to 95 ('_'). The
// spike-shell module's loader unpacks it; the finale's loader reads the unpacked cells.
#pragma once

constexpr int dot_font_first = 33;
constexpr int dot_font_last = 95;
constexpr int dot_font_rows = 5;
constexpr int dot_font_columns = 8;

// Per glyph one byte a row, the top row first; bit k of a row byte is column k, column 0 the
// leftmost.
extern const unsigned char dot_font[dot_font_last - dot_font_first + 1][dot_font_rows];

// Cell (code, r, k) is 1 where the glyph of code lights row r (0 the bottom row) and column k.
// Every code from 0 to 127 has a row of cells; codes without a glyph read 0.
extern unsigned char dot_font_cells[128][dot_font_rows][dot_font_columns];

// Fills dot_font_cells from dot_font.
void DotFont_Unpack(void);

// The cell of a text byte, read as a signed char: 0 for every byte without a glyph.
inline int DotFont_Cell(signed char ch, int r, int k)
{
    return ch < 0 ? 0 : dot_font_cells[int(ch)][r][k];
}
