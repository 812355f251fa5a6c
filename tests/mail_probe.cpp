// Sends one mail with the flags given as its argument, so that a test can
// watch the error box it may show from outside, or see that nothing happens.
#include <cstdlib>

#include "gen/Mail.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  SendMail(atoi(argv[1]), "r@x.y", "S", "B", 0);
  return 0;
}
