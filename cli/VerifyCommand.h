// "tavrapdf verify": each signature of a file, who made it and when, what it
// covers, and whether it is valid.
#pragma once

#include <ostream>
#include <string>

namespace tavra {

// Prints a block per signature; returns 0 when every signature is valid (and
// there is at least one), else 1. Raises when the file cannot be read.
int VerifySignatures(const std::string& path, std::ostream& out);

}  // namespace tavra
