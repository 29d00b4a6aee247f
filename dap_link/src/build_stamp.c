/* Which release and which host's MEX interface the plug-in was built for, so
 * that a rig check can name a plug-in left from another build: read from the
 * file, never called for. The build defines both as bare words (a compiler
 * driver that passes its options on through a shell would strip quotes); a
 * plug-in built without them says so. */
#ifndef DAP_RELEASE
#define DAP_RELEASE unknown
#endif
#ifndef DAP_HOST
#define DAP_HOST unknown
#endif
#define DAP_WORD(x) #x
#define DAP_TEXT(x) DAP_WORD(x)

const char dap_build_stamp[] = "dap-build " DAP_TEXT(DAP_RELEASE) " " DAP_TEXT(DAP_HOST);

/* The linker drops what nothing refers to; code the loader runs always stays,
 * and keeps the stamp with it. */
__attribute__((constructor)) static void dap_keep_build_stamp(void) {
  __asm__ volatile("" : : "r"(dap_build_stamp));
}
