#pragma once

// The speed a terminal's line was given, read through termios2, which holds the exact value even
// where no B-constant exists. On a pseudo-terminal master it is what the slave side was set to.
// -1 when it cannot be read, or when input and output speeds differ.
//
// A file of its own: <asm/termbits.h>, which holds termios2, cannot meet <termios.h>.
int ReadLineSpeed(int fd);
