#!/usr/bin/env bash
# Lays out a stand-in for a MATLAB installation under <root>, enough for
# CMake's own FindMatlab and matlab_add_mex to take it for MATLAB R2022b on
# 64-bit Linux: bin/matlab (answers the version query), bin/mexext, the
# libraries libmex and libmx (empty), extern/include/mex.h, the version
# source and the export map. No MATLAB is involved: mex.h is Octave's, behind
# a line that -Werror refuses outside a system header, so the build shows
# that MATLAB's headers are taken as system headers.
#   matlab_standin.sh <root> [poisoned-macro] [old-version-source]
# poisoned-macro: mex.h also defines mexErrMsgIdAndTxt as a macro, as a
#   MATLAB header could; old-version-source: the version source
#   matlab_add_mex adds also defines mexVersion, as older ones may.
set -euo pipefail
root=$1
shift
macro=0 old_version=0
for option in "$@"; do
  case $option in
    poisoned-macro) macro=1 ;;
    old-version-source) old_version=1 ;;
    *) echo "matlab_standin.sh: unknown option $option" >&2; exit 2 ;;
  esac
done
mkdir -p "$root/bin/glnxa64" "$root/extern/include" "$root/extern/version" "$root/extern/lib/glnxa64"

cat >"$root/bin/matlab" <<'EOF'
#!/bin/sh
# Answers FindMatlab's "version, exit" in the log file it names.
while [ $# -gt 0 ]; do
  if [ "$1" = -logfile ]; then
    printf "\nans =\n\n    '9.13.0.2049777 (R2022b)'\n\n" >"$2"
    shift
  fi
  shift
done
EOF
printf '#!/bin/sh\necho mexa64\n' >"$root/bin/mexext"
chmod +x "$root/bin/matlab" "$root/bin/mexext"

for lib in mex mx; do
  echo "void standin_$lib(void) {}" | cc -x c -shared -fPIC -o "$root/bin/glnxa64/lib$lib.so" -
done

{
  echo "#pragma once"
  echo "#include \"$(mkoctfile -p OCTINCLUDEDIR)/mex.h\""
  echo "static int standin_unused_in_a_matlab_header;"
  if [ $macro -eq 1 ]; then
    echo "#define mexErrMsgIdAndTxt mexErrMsgIdAndTxt"
  fi
} >"$root/extern/include/mex.h"

{
  echo '__attribute__((visibility("default"))) void mexfilerequiredapiversion(unsigned *release, unsigned *api);'
  echo 'void mexfilerequiredapiversion(unsigned *release, unsigned *api) { *release = 0x2017b; *api = 0x07300000; }'
  if [ $old_version -eq 1 ]; then
    echo '__attribute__((visibility("default"))) const char *mexVersion(void);'
    echo 'const char *mexVersion(void) { return "standin"; }'
  fi
} >"$root/extern/version/c_mexapi_version.c"

cat >"$root/extern/lib/glnxa64/c_exportsmexfileversion.map" <<'EOF'
MEX { global: mexFunction; mexfilerequiredapiversion; local: *; };
EOF
