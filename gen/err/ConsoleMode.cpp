// The default for programs that do not choose: messages in boxes. It lives
// alone in its object so that a program defining its own choice never pulls
// this one in from the library.
extern "C" const bool crashGuardConsoleMode = false;
