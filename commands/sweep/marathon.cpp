// data = marathon('A'..'H'): one long sampling run, from program load to stop.
#include <cctype>
#include <cstring>

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

// Takes block slot b when a whole block is waiting in time. A slot whose bytes
// do not come keeps its zeros, and what is waiting stays for the next slot.
void take_block(int binary, double *samples) {
  if (!dap::wait_readable(binary, kBlockBytes, dap::ticks_now(), kLastTickOfBlockWait))
    return;
  if (DAPGetAvail(binary) < kBlockBytes)
    return;
  // Cleared for every block, so that a short read cannot pass on bytes of an
  // earlier block.
  std::uint8_t block[kBlockBytes];
  std::memset(block, 0, sizeof block);
  const int got = DAPRead(binary, block, sizeof block);
  for (int i = 0; i + 1 < got; i += 2)
    samples[i / 2] = dap::le_i16(block + i);
}

} // namespace

DAP_MEX_ENTRY void mexFunction(int, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 1 || !mxIsChar(prhs[0]) || mxGetM(prhs[0]) != 1 || mxGetN(prhs[0]) != 1)
    mexErrMsgTxt(kUsage);
  char letter[2] = {0, 0};
  mxGetString(prhs[0], letter, sizeof letter);

  dap::GuardedSession session;
  if (!session.open_both())
    return;
  DAPFlush(session.binary());
  DAPFlush(session.text());

  const char *program = program_for(letter[0]);
  if (program == nullptr) {
    session.close();
    mexErrMsgTxt(kUsage);
  }
  dap::send_dapl_file(session.text(), program);
  if (!dap::wait_ticks(1))
    return;

  plhs[0] = mxCreateDoubleMatrix(1, kBlocks * kBlockSamples, mxREAL);
  double *samples = mxGetPr(plhs[0]);

  // The v1 pulse is what the run records the board's answer to.
  DAPSendLine(session.text(), "let v1=16384\r");
  if (!dap::wait_ticks(kPulseTicks))
    return;
  DAPSendLine(session.text(), "let v1=0\r");
  if (!dap::wait_ticks(1))
    return;

  for (int b = 0; b < kBlocks && !dap::interrupted(); ++b)
    take_block(session.binary(), samples + b * kBlockSamples);
  // An interrupted run leaves the record tasks running; SwpClose stops them.
  if (dap::interrupted())
    return;
  DAPSendLine(session.text(), "stop recorda,recordb\r");
}
