// data = marathon('A'..'H'): one long sampling run, from program load to stop.
#include <cctype>

#include "dap_link/dap_link.h"
#include "dap_link/mex_gateway.h"

namespace {

constexpr char kUsage[] = "marathon usage: marathon('A-H')";
constexpr int kBlocks = 400;
constexpr int kBlockBytes = 1000;
constexpr int kBlockSamples = kBlockBytes / 2;
constexpr std::int32_t kLastTickOfBlockWait = 1000;
constexpr std::int32_t kPulseTicks = 300;

// "marathona.dap" .. "marathonh.dap", or nullptr for any other letter.
const char *program_for(char letter) {
  static const char *const programs[] = {"marathona.dap", "marathonb.dap", "marathonc.dap",
                                         "marathond.dap", "marathone.dap", "marathonf.dap",
                                         "marathong.dap", "marathonh.dap"};
  const int lower = std::tolower(static_cast<unsigned char>(letter));
  if (lower < 'a' || lower > 'h')
    return nullptr;
  return programs[lower - 'a'];
}

void command(const dap::mex::Call &call) {
  const mxArray *argument = call.nrhs == 1 ? call.prhs[0] : nullptr;
  if (argument == nullptr || !mxIsChar(argument) || mxGetM(argument) != 1 || mxGetN(argument) != 1)
    dap::mex::fail(dap::mex::kUsage, kUsage);
  char letter[2] = {0, 0};
  mxGetString(argument, letter, sizeof letter);

  dap::mex::Matrix result(1, kBlocks * kBlockSamples);
  dap::GuardedSession session;
  if (!session.open_both())
    return;
  DAPFlush(session.binary());
  DAPFlush(session.text());

  // Refused only now, as the run always has: the channels are drained first.
  // The error is raised once the session has closed them.
  const char *program = program_for(letter[0]);
  if (program == nullptr)
    dap::mex::fail(dap::mex::kBadArgument, kUsage);
  bool refused = false;
  dap::send_dapl_file(session.text(), program, &refused);
  if (!dap::wait_ticks(1))
    return;

  result.hand_to(call.plhs[0]);
  double *samples = result.data();
  // The program starts the record tasks: a board that got none of it sends
  // no block, and 400 windows would wait over an hour for nothing.
  if (refused)
    return;

  // The v1 pulse is what the run records the board's answer to; without it
  // the tasks pass nothing on either.
  if (!dap::start_tasks(session.text(), "let v1=16384\r")) {
    DAPSendLine(session.text(), "stop recorda,recordb\r");
    return;
  }
  if (!dap::wait_ticks(kPulseTicks))
    return;
  DAPSendLine(session.text(), "let v1=0\r");
  if (!dap::wait_ticks(1))
    return;

  // Slots are fixed by index: a block that does not come in time keeps its
  // zeros, and what is waiting stays in the driver for the next slot.
  for (int b = 0; b < kBlocks && !dap::interrupted(); ++b)
    dap::take_block(session.binary(), samples + b * kBlockSamples, kBlockSamples,
                    kLastTickOfBlockWait);
  // An interrupted run leaves the record tasks running; SwpClose stops them.
  if (dap::interrupted())
    return;
  DAPSendLine(session.text(), "stop recorda,recordb\r");
}

} // namespace

DAP_MEX_GATEWAY(1, command)
