// "simhost validate": the command line of the plug-in validator.
#pragma once

// argv[0] is "validate". Returns the process exit code: 0 all passed, 1 a
// case failed, 2 a case crashed or timed out, 3 the validator could not run.
int runValidateCommand(int argc, char** argv);
