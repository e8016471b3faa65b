// Writes the demo file that ./run.sh shows: `nitf-make-demo OUT.ntf`.
#include <cstdio>

#include "demo.h"
#include "nitfgen.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: nitf-make-demo OUT.ntf\n");
    return 2;
  }
  if (!nitfgen::write_file(argv[1], nitfgen::build(nitfgen::demo_file()))) {
    std::fprintf(stderr, "nitf-make-demo: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
