// The application's own errors: the Czech texts of the Sign action and the
// workflow, shown by the application-wide error display.
#pragma once

#include <stdexcept>

namespace tavra {

class ESignerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tavra
