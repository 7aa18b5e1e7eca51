// Fuzz target for the ASN.1 reader and tree: every input is loaded from a buffer
// and from a stream (with contents left in the stream), in full and single-element
// mode; whatever loads must save and re-load to the same bytes. Every constructed
// node is also offered to the AlgorithmIdentifier parsers, whose output must be
// stable under a second read. The input is also read as a PKCS#7 message: one
// that loads must save to bytes that load and save the same again, and the
// verifier and the timestamp reader must answer with a code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "toolkit/asn1/CvASN1Tree.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvPKCS7.h"
#include "toolkit/pki/CvTSPClient.h"

using namespace corvane;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string SaveAll(const TOvASN1ConstrainedTag& root) {
  std::string out;
  for (int32_t i = 0; i < root.Count(); ++i) out += root.GetChild(i)->SaveToBytes();
  return out;
}

void TryIdentifier(const TOvASN1ConstrainedTag& node) {
  std::string first;
  try {
    const auto identifier = IdentifierFromTag(node);
    first = identifier->SaveToBytes();
    (void)identifier->Clone()->EncodedParameters();
  } catch (const ECorvaneError&) {
    return;
  }
  TOvASN1ConstrainedTag root;
  Check(root.LoadFromBytes(first) && root.ConstrainedChild(0) != nullptr);
  const auto again = IdentifierFromTag(*root.ConstrainedChild(0));
  Check(again->SaveToBytes() == first);
}

void Walk(const TOvASN1CustomTag* node) {
  if (const auto* simple = dynamic_cast<const TOvASN1SimpleTag*>(node)) {
    (void)simple->IntegerValue();
    (void)simple->BooleanValue();
    return;
  }
  const auto* constructed = dynamic_cast<const TOvASN1ConstrainedTag*>(node);
  Check(constructed != nullptr);
  TryIdentifier(*constructed);
  int64_t size = 0;
  if (!constructed->ConcatenatedContent(nullptr, size) && size > 0) {
    std::string joined(static_cast<size_t>(size), '\0');
    Check(constructed->ConcatenatedContent(joined.data(), size));
  }
  for (int32_t i = 0; i < constructed->Count(); ++i) Walk(constructed->GetChild(i));
}

void TryPKCS7(const std::string& input) {
  TOvPKCS7Message message;
  if (message.LoadFromBytes(input) == 0) {
    const std::string saved = message.SaveToBytes();
    TOvPKCS7Message again;
    Check(again.LoadFromBytes(saved) == 0);
    Check(again.SaveToBytes() == saved);
  }
  TOvMessageVerifier verifier;
  int64_t size = static_cast<int64_t>(input.size());
  std::string content(input.size(), '\0');
  const int32_t rc = verifier.Verify(input.data(), size, size, content.data());
  Check(rc != 0 || size <= static_cast<int64_t>(input.size()));
  verifier.SetVerificationOptions(verifier.VerificationOptions() | voLiberalMode);
  verifier.SetInputIsHash(true);
  (void)verifier.VerifyDetached("0123456789abcdef0123", 20, input.data(),
                                static_cast<int64_t>(input.size()));
  TOvClientTSPInfo info;
  (void)info.ParseToken(input);
  (void)info.ParseTSTInfo(input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  TOvASN1ConstrainedTag root;
  if (root.LoadFromBytes(input)) {
    Walk(&root);
    // Everything the reader accepts is saved as it came (indefinite lengths kept);
    // non-minimal definite lengths are the only thing that may change.
    const std::string saved = SaveAll(root);
    TOvASN1ConstrainedTag again;
    Check(again.LoadFromBytes(saved));
    Check(SaveAll(again) == saved);
    Check(again.Count() == root.Count());
  }

  TOvASN1ConstrainedTag single;
  const int64_t used = single.LoadSingleFromBuffer(data, static_cast<int64_t>(size));
  Check(used <= static_cast<int64_t>(size));

  TOvMemoryStream stream(input);
  TOvASN1ConstrainedTag streamed;
  streamed.SetMaxInMemoryContent(16);
  if (streamed.LoadFromStream(stream, 0)) {
    TOvMemoryStream out;
    for (int32_t i = 0; i < streamed.Count(); ++i) streamed.GetChild(i)->SaveToStream(out);
    Check(out.Data() == SaveAll(root));
  }

  uint8_t tag = 0;
  (void)UnwrapTag(input, tag);
  TryPKCS7(input);
  return 0;
}
