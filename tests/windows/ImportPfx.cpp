// win_import_pfx FILE.p12 PASSWORD: puts the certificates of a PKCS#12 file
// that come with a private key into the current user's "My" store, the way
// a user's certificate arrives there, and prints how many it added.
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/PlatformText.h"

namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring result(utf8.size() + 1, L'\0');
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, result.data(),
                                      static_cast<int>(result.size()));
  result.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const auto args = platform::CommandLineArguments(argc, argv);
  if (args.size() != 3) {
    std::fprintf(stderr, "usage: win_import_pfx FILE.p12 PASSWORD\n");
    return 2;
  }
  std::ifstream in(args[1], std::ios::binary);
  std::string pfx((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return 1;
  if (pfx.empty() || pfx.size() > (16u << 20)) {
    std::fprintf(stderr, "win_import_pfx: cannot read %s\n", args[1].c_str());
    return 1;
  }
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), reinterpret_cast<BYTE*>(pfx.data())};
  const std::wstring password = Wide(args[2]);
  HCERTSTORE imported = ::PFXImportCertStore(&blob, password.c_str(), CRYPT_USER_KEYSET);
  if (imported == nullptr) {
    std::fprintf(stderr, "win_import_pfx: PFXImportCertStore failed: 0x%08lx\n", ::GetLastError());
    return 1;
  }
  HCERTSTORE my = ::CertOpenSystemStoreA(0, "My");
  if (my == nullptr) {
    std::fprintf(stderr, "win_import_pfx: cannot open My: 0x%08lx\n", ::GetLastError());
    ::CertCloseStore(imported, 0);
    return 1;
  }
  int added = 0;
  PCCERT_CONTEXT context = nullptr;
  while ((context = ::CertEnumCertificatesInStore(imported, context)) != nullptr) {
    DWORD size = 0;
    if (!::CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
      continue;
    if (::CertAddCertificateContextToStore(my, context, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
      ++added;
  }
  ::CertCloseStore(my, 0);
  ::CertCloseStore(imported, 0);
  std::printf("%d\n", added);
  return added > 0 ? 0 : 1;
}
