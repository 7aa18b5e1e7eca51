// "tavrapdf sign": the signer's workflow without its window, with the same
// checks and messages (on standard error) and an exit status a caller can use.
#pragma once

#include <string>
#include <vector>

namespace tavra {

// args are the arguments after "sign". Returns the exit status: 0 signed, 1
// failed, 2 usage error.
int RunSignCommand(const std::vector<std::string>& args);

// The authority's basic-auth password: TAVRA_TSA_PASSWORD, else the terminal.
std::string TimestampPassword(const std::string& user);

// "tavrapdf timestamp": args after "timestamp"; the same exit statuses.
int RunTimestampCommand(const std::vector<std::string>& args);

}  // namespace tavra
