#include "toolkit/pki/CvMessages.h"

#include <algorithm>

#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvHashFunction.h"

namespace corvane {

std::string MessageErrorText(int32_t code) {
  switch (code) {
    case MSG_ERROR_NO_CERTIFICATE:
      return "no certificate with a private key to sign with";
    case MSG_ERROR_BUFFER_TOO_SMALL:
      return "the signed message could not be written";
    case MSG_ERROR_UNSUPPORTED_ALGORITHM:
      return "the algorithm is not supported";
    case MSG_ERROR_ATTRIBUTES_ENCODING:
      return "the signed attributes could not be encoded";
    case MSG_ERROR_UNSUPPORTED_SIGNATURE_TYPE:
      return "the signature type is not supported";
    case MSG_ERROR_UNSUPPORTED_HASH:
      return "the hash algorithm is not supported";
    case MSG_ERROR_HASHING:
      return "the document could not be hashed";
    case MSG_ERROR_MAC:
      return "the MAC could not be computed";
    case MSG_ERROR_NO_TSP_CLIENT:
      return "no timestamp server is set";
    case MSG_ERROR_INVALID_TIMESTAMP:
      return "the timestamp is invalid";
    case MSG_ERROR_RSA_SIGNING:
      return "the RSA signature could not be made";
    case MSG_ERROR_DSA_SIGNING:
      return "the DSA or ECDSA signature could not be made";
    case MSG_ERROR_PSS_SIGNING:
      return "the RSA-PSS signature could not be made";
    case MSG_ERROR_SIGNING_CERTIFICATE_MISMATCH:
      return "the signing-certificate attribute names another certificate than the signer's";
    case MSG_ERROR_SIGNER_COUNT:
      return "the signature has more than one signer";
    default:
      return "the signature could not be made";
  }
}

void TOvMessageProcessor::DoProgress(int64_t total, int64_t processed) {
  if (!on_progress_) return;
  bool cancel = false;
  on_progress_(this, total, processed, cancel);
  if (cancel) throw EOvMessageUserCancelledError("Cancelled by user");
}

ByteString TOvMessageProcessor::HashBuffer(int32_t algorithm, std::string_view data) {
  TOvHashFunction hash(algorithm, nullptr, manager_, TOvCryptoParams{nullptr});
  const auto total = static_cast<int64_t>(data.size());
  DoProgress(total, 0);
  hash.Update(data);
  DoProgress(total, total);
  return hash.Finish();
}

ByteString TOvMessageProcessor::HashStream(int32_t algorithm, TOvStream& stream, int64_t count) {
  TOvHashFunction hash(algorithm, nullptr, manager_, TOvCryptoParams{nullptr});
  DoProgress(count, 0);
  constexpr int64_t kBlock = 32768;
  std::string block;
  int64_t done = 0;
  while (done < count) {
    const int64_t want = std::min(kBlock, count - done);
    block.resize(static_cast<size_t>(want));
    const size_t got = stream.Read(block.data(), block.size());
    // A short stream must never pass for the requested range.
    if (got != block.size()) throw EStreamError("Stream read error");
    hash.Update(block);
    done += want;
    DoProgress(count, done);
  }
  return hash.Finish();
}

}  // namespace corvane
