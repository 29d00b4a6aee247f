%MARATHON  Sweep (short-record) sessions: one long sweep of 200000 samples, program letter A to H
%
%   data = marathon(letter)
%
%   letter  one character, 'A' to 'H' (or 'a' to 'h'), choosing the DAPL
%           file "marathona.dap" to "marathonh.dap" in the DAPL directory
%           "/home/labrig/matlab/intrfc/dap/". A second argument is
%           refused (dap:usage), as is none.
%   data    1 x 200000 double: 400 blocks of 500 samples, in arrival order,
%           each a signed 16-bit count (-32768 to 32767), unscaled.
%
%   One call does the whole run: drains the binary and then the text
%   channel, sends the file (which sets the recording running), at the next
%   tick sends "let v1=16384", 3 s (300 ticks) later "let v1=0", then from
%   the next tick takes 400 blocks of 1000 bytes from the binary channel
%   and finally sends "stop recorda,recordb". Each block waits up to 10 s;
%   a block that is not complete in time stays zeros and the bytes waiting
%   become the start of the next block. A run lasts 3 s plus the time the
%   board takes to deliver 400000 bytes; with no data, about 67 minutes.
%   Prints nothing.
%
%   If a channel cannot be opened, prints "Error opening accel0, errno=N"
%   (or accel1) and returns without a result.
%   Ctrl-C prints "Closing binary and text channels to DAP." and "Exiting
%   MEX function.", lets go of both channels and passes the interrupt on;
%   recorda and recordb keep running until SwpClose stops them.
%
%   Errors:
%     dap:usage           not exactly one argument of one character
%                         ("marathon usage: marathon('A-H')"), before the
%                         board is touched;
%     dap:badArgument     a letter outside A to H, after both channels
%                         were opened and drained; no file is sent;
%     dap:tooManyOutputs  more than one output was asked for.
%   Warnings: dap:drainFailed, dap:drainBounded, dap:transferBounded,
%             dap:programNotFound, dap:readFailed.
%   Warning: dap:writeFailed  the driver refused a write; if it took none
%            of the program (or of the v1 line), the call returns at once
%            with zeros.
%
%   Example:
%     data = marathon('A');   % 1 x 200000 counts; on the simulated board
%                             % 20 kHz (10 s of signal) after about 13 s
%     plot((0:199999) / 20, data)   % against ms
%
%   See also SwpClose, SwpInit, SwpRead.
