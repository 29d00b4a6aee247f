%DAP_DOCTOR_PROBE  Rig check helper: what dap_doctor asks the system, one question a call
%
%   r = dap_doctor_probe('host')
%   r = dap_doctor_probe('path', P)
%   r = dap_doctor_probe('driver', P)
%   r = dap_doctor_probe('plugin', P)
%   r = dap_doctor_probe('clock')
%
%   dap_doctor's questions, answered as a struct; dap_doctor turns them
%   into advice, and a lab's own script may ask them too. Nothing is sent
%   to the board.
%     'host'    simulated (on the simulated board), recorder (under the
%               session recorder), stamp (this plug-in's build stamp,
%               "dap-build <release> <host>").
%     'path'    what is at the path P: error (errno of stat, 0 when it is
%               there) and error_text, kind ('character device', 'file',
%               'folder', ...), mode (permission bits), uid, gid, owner,
%               group, size, and read_error, write_error, run_error (errno
%               of access() for each, 0 when allowed), each with its _text.
%     'driver'  opens the device node P read-write without blocking, asks
%               the driver its version (request 15), readable bytes (1)
%               and free space (2), and closes it; nothing is written or
%               read. open_error, descriptor_zero, version, readable,
%               free_space (-1 when not answered), version_error,
%               readable_error, free_space_error, close_error, each errno
%               with its _text (-1: a status other than 0 without errno).
%     'plugin'  loads the plug-in file P and lets go of it again: loads,
%               has_entry (mexFunction found), error (why it does not
%               load), stamp (its build stamp, '' when it has none).
%     'clock'   polls times() as the commands' windows do, until 20 ticks
%               have passed or a second: declared (sysconf's ticks a
%               second), ticks, seconds (real time taken).
%
%   Errors:
%     dap:usage           an unknown question, a missing or extra argument,
%                         or P not text;
%     dap:tooManyOutputs  more than one output.
%
%   Example:
%     r = dap_doctor_probe('path', '/dev/accel0');
%     r.kind    % 'character device' on a rig with its driver loaded
%
%   See also dap_doctor.
