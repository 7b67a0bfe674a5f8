// The Map runner's main program: start-up, frame loop and end of run.
#pragma once

// Runs after RuntimeStart; ends the process through RuntimeEnd or ErrorExit.
[[noreturn]] void MapRunnerMain();
