/* Control and inspection of the simulated DAP board.
 *
 * These entry points exist only in the simulator library (libdapsim.so, put in
 * LD_PRELOAD); production plug-ins never use them. Tests in C++ and the Octave
 * control plug-in "dapsim" reach them with dlsym(RTLD_DEFAULT, ...).
 *
 * dapsim_command() takes one command line of the control language described
 * in the README (for example "reset", "queue bin 10 00 f0 ff", "trace") and
 * returns 0 with the reply in *reply, or -1 with an error message in *reply.
 * The reply is allocated with malloc; release it with dapsim_free().
 */
#ifndef DAPSIM_CONTROL_H
#define DAPSIM_CONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

int dapsim_command(const char *command, char **reply);
void dapsim_free(char *reply);

#ifdef __cplusplus
}
#endif

#endif
