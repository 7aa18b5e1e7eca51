#include "app/core/DocTimeStamping.h"

#include <fcntl.h>
#include <unistd.h>

#include <exception>
#include <memory>

#include "app/core/SignerCore.h"
#include "app/core/SignerErrors.h"
#include "app/core/TempFile.h"
#include "app/core/TimestampClient.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_DocTimeStamp.h"
#include "toolkit/pki/CvTSPClient.h"

namespace tavra {

bool AppendDocTimeStamp(corvane::TOvStream& stream, corvane::TOvCustomTSPClient& client) {
  corvane::TOvPDFDocTimeStampHandler handler;
  handler.SetTSPClient(&client);
  corvane::TOvPDFDocument document;
  // The staging file is our own copy: the stamp is appended to it directly.
  document.SetWorkInPlace(true);
  try {
    document.Open(stream);
  } catch (const corvane::ECorvaneError&) {
    // An encrypted file is refused as such, not reported as broken.
    if (!document.Encrypted()) throw;
  }
  if (document.Encrypted() || document.Decrypted()) {
    document.Close(false);
    return false;
  }
  corvane::AddDocTimeStamp(document, handler);
  document.Close(true);
  return true;
}

std::string UpdateStagedCopy(const std::string& inputPath, const std::string& outputPath,
                             const std::function<std::string(corvane::TOvFileStream&)>& update) {
  const int input = ::open(inputPath.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (input < 0) return FileNotFoundText(inputPath);
  const corvane::TCvScopeExit closeInput([input] { ::close(input); });
  TTempFileGuard temp;
  if (!MakeStagingTempFile(outputPath, temp)) return kMsgOutputCopyFailed;
  if (!temp.CopyFrom(input)) return kMsgTempCopyFailed;
  try {
    corvane::TOvFileStream stream(::fcntl(temp.Descriptor(), F_DUPFD_CLOEXEC, 0),
                                  temp.Path().empty() ? outputPath : temp.Path());
    const std::string failure = update(stream);
    if (!failure.empty()) return failure;
    stream.Close();
  } catch (const ESignerError& e) {
    return e.what();
  } catch (const std::exception& e) {
    return kMsgErrorPrefix + std::string(e.what());
  }
  std::string error;
  if (!temp.Commit(error)) return kMsgOutputCopyFailed;
  return {};
}

std::string TimestampDocument(const std::string& inputPath, const std::string& outputPath,
                              const TTimestampServer& server) {
  return UpdateStagedCopy(inputPath, outputPath, [&](corvane::TOvFileStream& stream) {
    const std::unique_ptr<corvane::TOvCustomTSPClient> client = MakeTimestampClient(server);
    return AppendDocTimeStamp(stream, *client) ? std::string() : std::string(kMsgEncrypted);
  });
}

}  // namespace tavra
