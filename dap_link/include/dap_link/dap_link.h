// The DAP link: everything a command plug-in uses to reach the board.
#pragma once

#include "dap_link/channel.h"
#include "dap_link/collect.h"
#include "dap_link/convert.h"
#include "dap_link/guard.h"
#include "dap_link/session.h"
#include "dap_link/sigint.h"
#include "dap_link/ticks.h"
