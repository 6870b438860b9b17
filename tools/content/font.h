// The show's own pixel font: 5 x 7 cells, used for the voxel lettering of the credits and the
// lettering of the logos.
#pragma once

const int kGlyphWidth = 5;
const int kGlyphHeight = 7;
const int kGlyphAdvance = 6;

// True when pixel (column, row) of the character's glyph is set; row 0 is the top. Characters
// without a glyph are blank.
bool glyphPixel(char character, int column, int row);
