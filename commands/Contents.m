% DAP experiment commands: board control, sweeps, acquisition, stimulation
% Version @PROJECT_VERSION@ @DAP_RELEASE_DAY@
%
% Board control
%   BrdClear     - Reset the DAP board and empty its text and binary channels
%   BrdCmd       - Send one DAPL command line to the board
%   BrdLoad      - Load a DAPL file by name from the DAPL directory
%   BrdLoadPath  - Load a DAPL file given by its path
%
% Sweep (short-record) sessions
%   SwpInit      - Load the session's DAPL programs from the DAPL directory
%   SwpOpen      - Load "shrtrecT.dap" from the current folder
%   SwpStart     - Start the recording tasks (mode 2: with leading records)
%   SwpRead      - Collect one sweep: 671 x 2 leading record, 8 x 1000 sweep
%   SwpOffset    - Measure the two input offsets (1 x 2)
%   SwpStop      - Stop the recording tasks
%   SwpClose     - Stop the record tasks recorda and recordb
%   marathon     - One long sampling run of 200000 samples, letter A to H
%
% Triggered acquisition
%   TandemInit   - Load the tandem program "echread.dap"
%   TandemStart  - Start the tandem decoder tasks
%   TandemRead   - Pulse trains to eight channels, one reply each (1 x 8)
%   GateInit     - Load the threshold gate program "recthrsh.dap"
%   GateRead     - Collect up to 1000 three-word threshold records (3 x 1000)
%   SpikerInit   - Load the spike collection program "spiker.dap"
%   spiker       - Collect spike records for 11 s (1 x 17600, 22 per spike)
%   SmartRead    - Collect event summaries of nine channels for 6.1 s (3000 x 9)
%
% Stimulus output
%   PairInit     - Load the two-pulse stimulus program "twpls.dap"
%   PairStart    - Start the two-pulse stimulus tasks
%   PairSend     - Send a table of stimulus values to the running tasks
%   PairOut      - Play a 602-entry table ten times, once a second
%   WaveOut      - Play a 602-entry waveform on a0 and a1 until Enter
%   WaveInit     - Reset the board and load the output program "test4.dap"
%   WaveData     - Send one 602-entry waveform table
%   WaveHalt     - Stop the waveform output
%
% Stimulus-response
%   StimResp     - Three stimulus passes, events per channel (300 x 9)
%   StimResp2    - One stimulus pass with eight thresholds (300 x 9)
%
% Rig check
%   dap_doctor       - Say what is wrong with this machine before an experiment does
%   dap_doctor_probe - What dap_doctor asks the system, one question a call
%
% Rehearsal: any script runs on the simulated DAP board, without the
% hardware: dap_rehearse('my_session.m') in the Octave package,
% octave-sim my_session.m from a shell otherwise (help dap_rehearse,
% octave-sim --help).
%
% Samples are signed 16-bit counts; a tick is 10 ms. DAPL files named
% without a folder come from "/home/labrig/matlab/intrfc/dap/" unless the
% command's help says the current folder. Type "help <command>" for more.
