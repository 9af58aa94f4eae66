#pragma once
// The daemon's command line: --config PATH (or --config=PATH), --help and
// --version. Anything else is refused rather than guessed at: a daemon that
// started on the built-in path instead of the one meant would serve the
// wrong FIFO with the wrong line.

namespace velkor::control {

enum class command_line_outcome {
    serve,     // config_path names the configuration
    answered,  // --help or --version printed on standard output: exit 0
    refused,   // the reason and the usage on standard error: exit 2
};

// config_path keeps its value unless --config gives one.
command_line_outcome read_command_line(int argc, char** argv, const char*& config_path);

} // namespace velkor::control
