#include <cstdio>

#include "support/process.h"

int main(int argc, char** argv) {
  (void)qv::CommandLineText(argc, argv);
  std::fputs("Quorvelunpack : programme en cours de construction.\n", stderr);
  return qv::kExitFailed;
}
