#pragma once

// Sets a line speed that has no B-constant (28800, 76800, ...) through termios2/BOTHER, for both
// directions. Returns 0 or the errno of the failed call.
//
// It lives in a source file of its own because <asm/termbits.h>, which holds termios2, cannot be
// included together with <termios.h>.
int SetCustomLineSpeed(int fd, unsigned speed);
