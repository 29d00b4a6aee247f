/* The stamp of the MEX interface every plug-in is built for. */
static const char *version = "MATLAB 5.0 native";

/* Which release and which host's MEX interface the plug-in was built for, so
 * that a rig check can name a plug-in left from another build. The build
 * defines both as bare words (a compiler driver that passes its options on
 * through a shell would strip quotes); a plug-in built without them says so. */
#ifndef DAP_RELEASE
#define DAP_RELEASE unknown
#endif
#ifndef DAP_HOST
#define DAP_HOST unknown
#endif
#define DAP_WORD(x) #x
#define DAP_TEXT(x) DAP_WORD(x)
const char dap_build_stamp[] = "dap-build " DAP_TEXT(DAP_RELEASE) " " DAP_TEXT(DAP_HOST);

__attribute__((visibility("default"))) const char *mexVersion(void);

const char *mexVersion(void) {
  /* The stamp is read from the file, never called for: the reference keeps
   * the linker from dropping it with unused sections. */
  __asm__ volatile("" : : "r"(dap_build_stamp));
  return version;
}
