// "tavrapdf ltv": the validation data of every signature a file holds, added
// to a copy in its document security store, and an archive timestamp over it.
#pragma once

#include <string>
#include <vector>

namespace tavra {

// args are the arguments after "ltv". Returns the exit status: 0 written, 1
// failed (nothing written), 2 usage error.
int RunLtvCommand(const std::vector<std::string>& args);

}  // namespace tavra
