/* The stamp of the MEX interface every plug-in is built for. */
static const char *version = "MATLAB 5.0 native";

__attribute__((visibility("default"))) const char *mexVersion(void);

const char *mexVersion(void) { return version; }
