// Fuzz target for the timestamp client's reading: the input as a
// TimeStampToken, as a bare TSTInfo, and as a TimeStampResp whose token is
// read the way a signature's timestamp attribute is. Reading never raises;
// what reads is consistent with the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "toolkit/asn1/CvASN1Tree.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/pki/CvPKCS7Utils.h"
#include "toolkit/pki/CvTSPClient.h"

using namespace corvane;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Inspect(const TOvClientTSPInfo& info, std::string_view input) {
  Check(info.Token() == input);
  (void)info.MessageImprint();
  (void)info.ServerNonce();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  {
    TOvClientTSPInfo info;
    (void)info.ParseToken(input);
    Inspect(info, input);
  }
  {
    TOvClientTSPInfo info;
    (void)info.ParseTSTInfo(input);
    Inspect(info, input);
  }
  // TimeStampResp ::= SEQUENCE { status PKIStatusInfo, timeStampToken }
  try {
    TOvASN1ConstrainedTag tree;
    if (tree.LoadSingleFromBuffer(data, static_cast<int64_t>(size)) > 0 && tree.Count() == 1) {
      const TOvASN1ConstrainedTag* reply = tree.ConstrainedChild(0);
      if (reply != nullptr && reply->TagByte() == ASN1_SEQUENCE && reply->Count() == 2) {
        const std::string_view token = ElementOctets(input, *reply->GetChild(1));
        Check(token.empty() || (token.data() >= input.data() &&
                                token.data() + token.size() <= input.data() + input.size()));
        TOvClientTSPInfo info;
        (void)info.ParseToken(token);
        Inspect(info, token);
      }
    }
  } catch (const ECorvaneError&) {
  }
  return 0;
}
