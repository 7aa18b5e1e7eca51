#include "tests/pki/PkiTestSupport.h"

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <sstream>

namespace pkitest {

namespace {

// Makes every test certificate; run in the fixture folder.
constexpr const char* kMakeFixtures = R"SH(
set -e
O=openssl
$O req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj "/C=CZ/O=Tavra Test/CN=Tavra Test CA" -days 3650 -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
cat > user.ext <<'X'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation,keyEncipherment
extendedKeyUsage=clientAuth,emailProtection,1.3.6.1.4.1.311.10.3.12
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
subjectAltName=email:jan@example.cz,DNS:tavra.example,IP:192.0.2.1,URI:http://tavra.example/
certificatePolicies=1.2.203.99999.1
crlDistributionPoints=URI:http://crl.example/ca.crl
authorityInfoAccess=OCSP;URI:http://ocsp.example/
X
sign() { # name serial extfile
  $O x509 -req -in $1.csr -CA ca.pem -CAkey ca.key -set_serial "$2" -days 365 -extfile "$3" -out $1.pem 2>/dev/null
}
user() { # name keyspec subject serial [extfile]
  $O req -new -newkey $2 -nodes -keyout $1.key -out $1.csr -utf8 -subj "$3" 2>/dev/null
  sign $1 "$4" "${5:-user.ext}"
}
user rsa2048 rsa:2048 "/C=CZ/O=Tavra Test/CN=RSA 2048 User/emailAddress=rsa2048@example.cz" 0x1001
user rsa3072 rsa:3072 "/C=CZ/CN=RSA 3072 User" 0x1002
user rsa4096 rsa:4096 "/C=CZ/CN=RSA 4096 User" 0x1003
$O ecparam -name prime256v1 -out ec.param
user ec ec:ec.param "/C=CZ/CN=EC P-256 User" 0x1004
user czech rsa:2048 "/C=CZ/ST=Praha/L=Praha 1/O=Tavra s.r.o./OU=Podpisy/CN=Jan Čáp" 0x1005
user serial80 rsa:2048 "/CN=High Serial" 0x80A1B2C3D4
user negative rsa:2048 "/CN=Negative Serial" -0x1234
user long rsa:2048 "/CN=Long Serial" 0x0102030405060708090A0B0C0D0E0F101112131415
printf 'keyUsage=critical,digitalSignature\n1.3.6.1.4.1.99999.1=critical,DER:05:00\n' > unknown.ext
user unknown rsa:2048 "/CN=Unknown Critical" 0x1006 unknown.ext
printf '2.5.29.15=critical,DER:04:01:00\n' > badku.ext
user badku rsa:2048 "/CN=Bad Key Usage" 0x1007 badku.ext
printf '2.5.29.15=DER:04:01:00\n' > softku.ext
user softku rsa:2048 "/CN=Soft Key Usage" 0x1008 softku.ext
# BMPString names
printf '[req]\ndistinguished_name=dn\nstring_mask=MASK:0x800\n[dn]\n' > bmp.cnf
$O req -new -newkey rsa:2048 -nodes -keyout bmp.key -out bmp.csr -utf8 -config bmp.cnf -subj "/CN=Tí Čáp/O=BMP Org" 2>/dev/null
sign bmp 0x1009 user.ext
# expired and version 1 certificates through the ca command (no extensions: version 1)
mkdir -p db && : > db/index.txt && echo 2001 > db/serial
cat > ca.cnf <<X
[ca]
default_ca=d
[d]
database=db/index.txt
new_certs_dir=db
serial=db/serial
default_md=sha256
policy=p
unique_subject=no
email_in_dn=no
[p]
commonName=supplied
organizationName=optional
countryName=optional
X
$O req -new -newkey rsa:2048 -nodes -keyout expired.key -out expired.csr -subj "/C=CZ/CN=Expired User" 2>/dev/null
$O ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem -startdate 20200101000000Z -enddate 20210101120000Z -notext 2>/dev/null
$O req -new -newkey rsa:2048 -nodes -keyout v1.key -out v1.csr -subj "/O=Version One/CN=V1 User" 2>/dev/null
$O ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in v1.csr -out v1.pem -startdate 20240229235959Z -enddate 20510101000000Z -notext 2>/dev/null
for f in *.pem; do $O x509 -in $f -outform DER -out ${f%.pem}.der; done
)SH";

}  // namespace

const std::filesystem::path& Fixtures() {
  // Made once into the build tree (keyed by the script, guarded by a lock) so
  // that the test processes CTest starts one by one share them.
  static const std::filesystem::path made = [] {
    const std::filesystem::path dir =
        std::filesystem::path(TAVRA_BINARY_DIR) / "test-fixtures" /
        ("pki-" + std::to_string(std::hash<std::string_view>()(kMakeFixtures)));
    std::filesystem::create_directories(dir);
    const std::string script = "make-" + std::to_string(::getpid()) + ".sh";
    WriteFile(dir / script, kMakeFixtures);
    bool ok = false;
    Run("cd '" + dir.string() + "' && flock .lock bash -c 'test -f done || { bash " + script +
            " && touch done; }'; rc=$?; rm -f " + script + "; exit $rc",
        &ok);
    return ok && std::filesystem::exists(dir / "done") ? dir : std::filesystem::path();
  }();
  return made;
}

OpensslView ReadWithOpenssl(const std::string& path, bool der) {
  OpensslView view;
  bool ok = false;
  const std::string out =
      Run("openssl x509 -noout -serial -subject -issuer -dates -dateopt iso_8601"
          " -nameopt sep_multiline,sname,utf8,-esc_msb -inform " +
              std::string(der ? "DER" : "PEM") + " -in '" + path + "'",
          &ok);
  if (!ok) return view;
  std::istringstream lines(out);
  std::string line;
  std::multimap<std::string, std::string>* name = nullptr;
  while (std::getline(lines, line)) {
    if (line.rfind("    ", 0) == 0 && name != nullptr) {
      const size_t eq = line.find('=');
      if (eq != std::string::npos) name->emplace(line.substr(4, eq - 4), line.substr(eq + 1));
      continue;
    }
    name = nullptr;
    if (line.rfind("serial=", 0) == 0)
      view.serial = line.substr(7);
    else if (line == "subject=")
      name = &view.subject;
    else if (line == "issuer=")
      name = &view.issuer;
    else if (line.rfind("notBefore=", 0) == 0)
      view.notBefore = line.substr(10);
    else if (line.rfind("notAfter=", 0) == 0)
      view.notAfter = line.substr(9);
  }
  view.ok = !view.serial.empty() && !view.notAfter.empty();
  return view;
}

std::string OpensslSerialText(std::string_view content) {
  std::string magnitude(content);
  const bool negative = !magnitude.empty() && (static_cast<uint8_t>(magnitude[0]) & 0x80) != 0;
  if (negative) {
    // Two's complement: invert and add one.
    for (char& c : magnitude) c = static_cast<char>(~static_cast<uint8_t>(c));
    for (size_t i = magnitude.size(); i-- > 0;) {
      magnitude[i] = static_cast<char>(static_cast<uint8_t>(magnitude[i]) + 1);
      if (magnitude[i] != 0) break;
    }
  }
  size_t start = 0;
  while (start + 1 < magnitude.size() && magnitude[start] == 0) ++start;
  return (negative ? "-" : "") + ToHex(magnitude.substr(start));
}

std::string IsoText(corvane::TDateTime value) {
  const corvane::TDateTimeParts p = corvane::DecodeDateTime(value);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02dZ", p.Year, p.Month, p.Day, p.Hour,
                p.Minute, p.Second);
  return text;
}

}  // namespace pkitest
