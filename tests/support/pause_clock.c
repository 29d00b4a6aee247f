/* Stands in for the process clock and the operator of the timing program:
 * reading a character from standard input takes PAUSE_TICKS ticks on a clock
 * that moves only then, so a pause of any length is measured without waiting
 * through it. Preloaded on its own, never together with the simulated board. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/times.h>

#define EXPORT __attribute__((visibility("default")))

#undef getc
#undef getchar
#undef fgetc

/* A 32-bit counter a few ticks before it wraps: the pause spans the wrap. */
static clock_t now = (clock_t)0xffffff80u;

static int pause_for_the_operator(void) {
  const char *ticks = getenv("PAUSE_TICKS");
  now += ticks != NULL ? strtol(ticks, NULL, 10) : 0;
  return '\n';
}

EXPORT clock_t times(struct tms *buffer) {
  if (buffer != NULL)
    memset(buffer, 0, sizeof *buffer);
  return now;
}

EXPORT int getchar(void) { return pause_for_the_operator(); }
EXPORT int getc(FILE *stream) {
  (void)stream;
  return pause_for_the_operator();
}
EXPORT int fgetc(FILE *stream) {
  (void)stream;
  return pause_for_the_operator();
}
int _IO_getc(FILE *stream);
EXPORT int _IO_getc(FILE *stream) {
  (void)stream;
  return pause_for_the_operator();
}
