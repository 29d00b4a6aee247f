// Session files: what the recorder writes on a rig and the simulated board
// plays back, as a small library shared by the recorder (libdaprec.so), the
// simulator's replay, the dapsession tool and the tests:
//   format.h     the header, blocks and records, and the versions' rules
//   reader.h     reading a file record by record, and what is damage
//   writer.h     the one writer: header, checked blocks, end record
//   recording.h  a recording in progress: calls folded into records
//   paths.h      which paths and command lines mean the board
#pragma once

#include "format.h"
#include "paths.h"
#include "reader.h"
#include "recording.h"
#include "writer.h"
