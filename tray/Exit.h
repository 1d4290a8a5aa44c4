// What a job's end means, as the exit codes that krt42 gives and a script tests, and as the station
// reports each job's result. With several ports the highest code of them all is the result.
#pragma once

namespace tray {

enum Exit : int {
    EXIT_OK = 0,
    EXIT_FAILED = 1,         // the job ran and could not finish: a load stopped by the line or by
                             // endless restarts, output that cannot be written, diff: they differ
    EXIT_USAGE = 2,          // arguments, rows, speeds, values or files that do not work
    EXIT_NO_ADAPTER = 3,     // find: no answer at any speed
    EXIT_REFUSED = 4,        // write: the adapter refused the value
    EXIT_NO_ANSWER = 5,      // read or write: a request got no answer in time
    EXIT_PORT = 6,           // the port cannot be opened, is busy or went away
    EXIT_READ_BACK = 7,      // apply: what was read back is not what the adapter accepted
    EXIT_INTERRUPTED = 128,  // plus the signal's number
};

// A stop asked for by a user rather than a signal (the station's stop button) ends a job as Ctrl-C
// ends krt42.
constexpr int EXIT_STOPPED = EXIT_INTERRUPTED + 2;

}  // namespace tray
