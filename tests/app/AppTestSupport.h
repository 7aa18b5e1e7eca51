// Fakes and helpers of the application core tests: a scriptable toolkit that
// records what the workflow asks of it and a reporter that records which way
// each message took.
#pragma once

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/SignerReporter.h"
#include "app/core/SignerToolkit.h"
#include "platform/PlatformFiles.h"
#include "tests/support/TestSupport.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvStream.h"

namespace tavra_test {

class FakeCertificate final : public tavra::ISignerCertificate {
 public:
  FakeCertificate(std::string issuer, std::string serial, std::string subject = "Jan Novák",
                  bool canSign = true, bool hasKey = true)
      : issuer_(std::move(issuer)),
        serial_(std::move(serial)),
        subject_(std::move(subject)),
        can_sign_(canSign),
        has_key_(hasKey) {}
  std::string IssuerCommonName() const override { return issuer_; }
  std::string SubjectCommonName() const override { return subject_; }
  std::string SerialNumber() const override { return serial_; }
  bool KeyAlgorithmCanSign() const override { return can_sign_; }
  bool PrivateKeyExists() const override { return has_key_; }

 private:
  std::string issuer_, serial_, subject_;
  bool can_sign_, has_key_;
};

// Records every call; each step can be told to fail. Close(true) appends
// kSignedTail to the stream, so a signed output is the input plus that tail.
class FakeToolkit final : public tavra::ISignerToolkit {
 public:
  static constexpr char kSignedTail[] = "\n%signed by fake\n";

  std::vector<std::unique_ptr<FakeCertificate>> certificates;
  bool encrypted = false;
  std::string fail_open, fail_add, fail_configure, fail_use_cert, fail_close_save,
      fail_close_nosave;

  std::vector<std::string> calls;
  std::string temp_path_at_open;  // the file the stream was opened on
  bool temp_existed_at_open = false;
  std::string content_at_open;
  int configured_index = -1;
  tavra::TSignatureSetup setup;
  const tavra::ISignerCertificate* used_certificate = nullptr;

  FakeCertificate& AddCertificate(std::string issuer, std::string serial,
                                  std::string subject = "Jan Novák", bool canSign = true,
                                  bool hasKey = true) {
    certificates.push_back(std::make_unique<FakeCertificate>(std::move(issuer), std::move(serial),
                                                             std::move(subject), canSign, hasKey));
    return *certificates.back();
  }

  size_t CertificateCount() const override { return certificates.size(); }
  const tavra::ISignerCertificate& Certificate(size_t index) const override {
    return *certificates.at(index);
  }

  void Open(corvane::TOvStream& stream) override {
    calls.push_back("Open");
    stream_ = &stream;
    if (auto* file = dynamic_cast<corvane::TOvFileStream*>(&stream)) {
      temp_path_at_open = file->FileName();
      temp_existed_at_open = platform::FileExists(temp_path_at_open);
    }
    stream.SetPosition(0);
    content_at_open = stream.ReadString(static_cast<size_t>(stream.Size()));
    if (!fail_open.empty()) throw corvane::EOvPDFParseError(fail_open);
  }
  bool Encrypted() const override {
    const_cast<FakeToolkit*>(this)->calls.push_back("Encrypted");
    return encrypted;
  }
  int AddSignature() override {
    calls.push_back("AddSignature");
    if (!fail_add.empty()) throw corvane::EOvPDFError(fail_add);
    return 3;
  }
  void ConfigureSignature(int index, const tavra::TSignatureSetup& s) override {
    calls.push_back("ConfigureSignature");
    configured_index = index;
    setup = s;
    if (!fail_configure.empty()) throw corvane::EOvPDFSignatureError(fail_configure);
  }
  void UseSigningCertificate(const tavra::ISignerCertificate& certificate) override {
    calls.push_back("UseSigningCertificate");
    used_certificate = &certificate;
    if (!fail_use_cert.empty()) throw corvane::EOvCertStorageError(fail_use_cert);
  }
  void Close(bool save) override {
    calls.push_back(save ? "Close(true)" : "Close(false)");
    if (save) {
      if (!fail_close_save.empty()) throw corvane::EOvCryptoProviderError(fail_close_save);
      stream_->Seek(0, corvane::TSeekOrigin::soEnd);
      stream_->Write(std::string_view(kSignedTail));
    } else if (!fail_close_nosave.empty()) {
      throw corvane::EOvPDFError(fail_close_nosave);
    }
  }

 private:
  corvane::TOvStream* stream_ = nullptr;
};

enum class Way { ApplicationError, WorkflowError, WorkflowInformation, StartupError, Plain };

struct Report {
  Way way;
  std::string text;
  bool operator==(const Report&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Report& r) {
  static const char* names[] = {"ApplicationError", "WorkflowError", "WorkflowInformation",
                                "StartupError", "Plain"};
  return os << names[static_cast<int>(r.way)] << ": \"" << r.text << "\"";
}

class RecordingReporter final : public tavra::ISignerReporter {
 public:
  std::vector<Report> reports;
  void ShowApplicationError(const std::string& text) override {
    reports.push_back({Way::ApplicationError, text});
  }
  void ShowWorkflowError(const std::string& text) override {
    reports.push_back({Way::WorkflowError, text});
  }
  void ShowWorkflowInformation(const std::string& text) override {
    reports.push_back({Way::WorkflowInformation, text});
  }
  void ShowStartupError(const std::string& text) override {
    reports.push_back({Way::StartupError, text});
  }
  void ShowPlainMessage(const std::string& text) override { reports.push_back({Way::Plain, text}); }
};

}  // namespace tavra_test
