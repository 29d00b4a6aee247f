// Channel operations: the thin layer between a command and the DAP driver.
//
// Every operation takes the descriptor of an open channel (/dev/accel0, the
// text channel, or /dev/accel1, the binary channel). None keeps state, prints,
// allocates from the heap or calls MATLAB, so they work on any descriptor: a
// pipe, a file or the simulated board.
#pragma once

#include <cstddef>

// Bytes the channel holds ready to be read (driver request 1), or -1.
int DAPGetAvail(int fd);
// Bytes the channel can accept for writing now (driver request 2), or -1.
int DAPPutAvail(int fd);
// The driver's version number (request 15), or -1.
int DAPAccelVersion(int fd);
// Sets the driver's timeout (request 14, value passed by address): 0 or -1.
int DAPSetTimeout(int fd, int timeout);
// One write of the NUL-terminated line as it stands (callers put the "\r" in).
// A write that fails or takes less than the whole line is said in a warning
// (dap:writeFailed, once per call, as for every write below).
int DAPSendLine(int fd, const char *line);
// Sends a file in blocks of up to 1024 bytes with every line feed turned into a
// carriage return. Returns the bytes written, -1 if the file cannot be opened or
// a read or write fails. Only a regular file is sent: anything else (a FIFO, a
// device, a folder) is said like a missing program and nothing is sent; the
// open never blocks. No DAPL program comes near 16 MiB: a transfer stops there
// with a warning (dap:transferBounded).
int DAPSendFile(int fd, const char *path);
// Reads and discards until the channel has had nothing ready at two queries
// 0.1 s apart; returns the total of what the reads returned. A drain always
// ends: after 10 reads in a row that fail (dap:drainFailed) or 10 s of
// continuous data (dap:drainBounded) it stops with a warning, and the caller
// goes on as after a drained channel.
int DAPFlush(int fd);

// Transfers, so that commands never call read() or write() themselves. Both
// return what the system call returned; a write that fails or takes less than
// `count` (a table sent in one piece) is also said (dap:writeFailed).
int DAPRead(int fd, void *buffer, std::size_t count);
int DAPWrite(int fd, const void *buffer, std::size_t count);

namespace dap {
namespace detail {
// Where the channel operations report what the operator should hear about (a
// drain or transfer cut short). The command gateway issues them as MATLAB
// warnings once the call is over; without a sink they are dropped.
// A new sink starts a new call: its first refused write is said again.
void set_warning_sink(void (*sink)(const char *id, const char *message));
// The name the operator knows a held channel by ("accel0"), for warnings;
// nullptr forgets the descriptor. A channel without one is named by number.
void name_channel(int fd, const char *name);
// At the end of a session: no descriptor is a channel any more.
void forget_channel_names();
} // namespace detail

// The reset sequence that opens several commands: "\rRESET\r" on the text
// channel, then the text channel drained, then the binary channel drained.
void reset_board(int text_fd, int binary_fd);
// DAPRead for a command's results: a read that fails is also said in a
// warning (dap:readFailed), so results that lack what it held do not pass
// for complete ones. The caller goes on as after an empty read.
int read_data(int fd, void *buffer, std::size_t count);
// DAPWrite for a caller that sends again what a write did not take: a short
// write is not said, a failed one is.
int write_some(int fd, const void *buffer, std::size_t count);
// Sends a line that starts tasks on the board. False when none of it reached
// the board (the driver refused the write or took nothing; said as any
// refused write), so that nothing was started and no data is to wait for.
bool start_tasks(int text_fd, const char *line);
// Sends the DAPL file `name` from the DAPL directory over the text channel
// with DAPSendFile and returns its result; -1, sending nothing, when the path
// does not fit the 80-byte path buffer. `refused`, when given, tells whether
// the file was there to send yet none of it reached the board.
int send_dapl_file(int text_fd, const char *name, bool *refused = nullptr);
// DAPSendFile with `refused` as above, for a program kept beside the
// experiment rather than in the DAPL directory.
int send_file(int text_fd, const char *path, bool *refused);
} // namespace dap
