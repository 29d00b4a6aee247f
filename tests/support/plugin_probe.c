/* Loads each plug-in given on the command line the way a host does (symbols
 * of the MEX interface left unresolved until called) and checks the stamp
 * that mexVersion returns. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    void *plugin = dlopen(argv[i], RTLD_LAZY | RTLD_LOCAL);
    if (plugin == NULL) {
      printf("FAIL %s: %s\n", argv[i], dlerror());
      ++failures;
      continue;
    }
    const char *(*version)(void) = (const char *(*)(void))dlsym(plugin, "mexVersion");
    if (version == NULL || dlsym(plugin, "mexFunction") == NULL) {
      printf("FAIL %s: entry points missing\n", argv[i]);
      ++failures;
    } else if (strcmp(version(), "MATLAB 5.0 native") != 0) {
      printf("FAIL %s: mexVersion returned \"%s\"\n", argv[i], version());
      ++failures;
    }
    dlclose(plugin);
  }
  if (failures == 0)
    printf("all %d plug-ins answer mexVersion with \"MATLAB 5.0 native\"\n", argc - 1);
  return failures == 0 ? 0 : 1;
}
