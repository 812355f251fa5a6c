// Linked into every test program as an object of its own: a test program
// that fails for real prints its crash report and ends at once, instead of
// waiting on a consent dialog that nobody answers.
extern "C" const bool crashGuardConsoleMode = true;
