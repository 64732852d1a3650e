// Adds the test servers' scratch CA to the trusted roots of the Windows
// installation the tests run on (a Wine prefix made for the test run), so
// that wininet.dll verifies the servers' certificates as the portable
// backend does with the CA file. The certificates the tests expect to fail
// (expired, wrong name, bad usage, another CA) still fail.
//
//   trust_test_ca PEM-FILE
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool AddTo(DWORD location, const std::vector<BYTE>& der) {
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location, L"Root");
    if (!store) return false;
    const BOOL added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                          static_cast<DWORD>(der.size()),
                                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    ::CertCloseStore(store, 0);
    return added != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_test_ca PEM-FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        std::fprintf(stderr, "trust_test_ca: cannot read %s\n", argv[1]);
        return 1;
    }
    DWORD size = 0;
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "trust_test_ca: %s holds no PEM certificate\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(size);
    ::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                           &size, nullptr, nullptr);
    der.resize(size);
    // The machine's roots are what the chain engine trusts for every user;
    // the user's own as well, where the machine's store is read-only.
    const bool machine = AddTo(CERT_SYSTEM_STORE_LOCAL_MACHINE, der);
    const bool user = AddTo(CERT_SYSTEM_STORE_CURRENT_USER, der);
    if (!machine && !user) {
        std::fprintf(stderr, "trust_test_ca: cannot add the certificate (error %lu)\n", ::GetLastError());
        return 1;
    }
    return 0;
}
