#pragma once

// Reads the line of a terminal back through termios2, which holds the exact speed even where no
// B-constant exists. On a pseudo-terminal master this is the line the slave side was given.
// -1 when it cannot be read, or when input and output speeds differ.
int ReadTerminalSpeed(int fd);
