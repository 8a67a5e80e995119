#pragma once

// Bytes 0x80 to 0xFF of a single-byte Windows code page as UTF-16 (the lower
// half is ASCII in all of them); null for a code page without a table here.
const char16_t* codePageUpperHalf(unsigned codePage);
