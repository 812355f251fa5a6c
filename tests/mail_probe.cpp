// Sends one mail with the flags given, for a test to watch from outside what the user sees.
#include <cstdlib>

#include "gen/Mail.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  SendMail(atoi(argv[1]), "r@x.y", "S", "B", 0);
  return 0;
}
