#pragma once
// Exit statuses of cu-tavik-cli, the same for every command.
namespace Exit {
enum Code {
    Success = 0,
    // The unit cannot be reached, or it or a module refused, failed or did not answer.
    Failure = 1,
    // The command line is wrong: unknown command or option, a missing or bad value.
    Usage = 2,
};
} // namespace Exit
