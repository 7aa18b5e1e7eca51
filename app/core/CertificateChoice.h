// What the certificate dialog and the certificate viewer know of the store,
// free of any window: the personal store as the dialog lists it, the listing
// rule, the sort state and comparison of the three columns, the preselection
// match, and the fields the viewer shows for one store certificate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/core/SignerToolkit.h"

namespace tavra {

// A store certificate as the dialog sees it; owned by its store.
class IChoosableCertificate : public ISignerCertificate {
 public:
  // End of validity, days since 1899-12-30, UTC.
  virtual double ValidTo() const = 0;
  // The store context the viewer is handed; 0 when there is none.
  virtual uint64_t CertContextHandle() const = 0;
  // An independent copy without access to the private key.
  virtual std::unique_ptr<ISignerCertificate> Copy() const = 0;
};

// The dialog's own storage, open for as long as the dialog lives.
class ICertificateStore {
 public:
  virtual ~ICertificateStore() = default;
  virtual size_t Count() const = 0;
  virtual const IChoosableCertificate& Certificate(size_t index) const = 0;
  // Which certificate database the store reads, for the dialog's status line.
  virtual std::string DatabaseText() const = 0;
};

// The "My" store of the database in use, opened and listed now; the store's
// error is raised when it cannot be opened.
std::unique_ptr<ICertificateStore> OpenPersonalStore();

// Only certificates that can sign and whose private key the store holds.
bool CertificateListed(const ISignerCertificate& certificate);

// Sort state: 0 unsorted, +(c + 1) ascending by column c, -(c + 1) descending.
int NextSortState(int state, int column);
// <0, 0, >0 as a sorts before, with, after b under the state.
int CompareCertificates(const IChoosableCertificate& a, const IChoosableCertificate& b,
                        int sortState);
// Issuer and serial texts as the main window holds them.
bool MatchesIdentity(const ISignerCertificate& certificate, const std::string& issuerText,
                     const std::string& serialText);

// One line of the viewer: a caption and its text (UTF-8).
struct TCertificateField {
  std::string Caption;
  std::string Text;
};

struct TCertificateDescription {
  std::string Title;  // the subject common name
  std::vector<TCertificateField> Fields;
};

// Reads the store certificate behind the context handle; raises when the
// handle is unknown or its encoding cannot be parsed.
TCertificateDescription DescribeStoreCertificate(uint64_t certContextHandle);

}  // namespace tavra
