/* trivial.c: the floor of the start-up comparison. */
#include <stdio.h>

int main(void) {
  puts("hello");
  return 0;
}
