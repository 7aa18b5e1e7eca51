#include "app/core/PlaceholderToolkit.h"

#include <stdexcept>

#include "toolkit/common/CvErrors.h"

namespace tavra {

namespace {

[[noreturn]] void NotAvailable() {
  throw corvane::ECorvaneError("PDF signing is not available in this build");
}

}  // namespace

const ISignerCertificate& TPlaceholderToolkit::Certificate(size_t /*index*/) const {
  throw std::out_of_range("List index out of bounds");
}

void TPlaceholderToolkit::Open(corvane::TOvStream& /*stream*/) { NotAvailable(); }

int TPlaceholderToolkit::AddSignature() { NotAvailable(); }

void TPlaceholderToolkit::ConfigureSignature(int /*index*/, const TSignatureSetup& /*setup*/) {
  NotAvailable();
}

void TPlaceholderToolkit::UseSigningCertificate(const ISignerCertificate& /*certificate*/) {
  NotAvailable();
}

// Closing without saving has nothing to release; saving cannot happen.
void TPlaceholderToolkit::Close(bool save) {
  if (save) NotAvailable();
}

}  // namespace tavra
