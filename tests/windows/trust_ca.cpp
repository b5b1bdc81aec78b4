// "trust_ca CA.pem": adds a certificate authority to the machine's Root store of the Wine prefix
// it runs in, where Schannel looks for trust, so that the end-to-end tests' Dovecot certificate
// verifies as a provider's would. A test tool; it never runs on a user's machine.

#include <cstdio>
#include <string>

#include <windows.h>

#include <wincrypt.h>

int main(int argc, char* argv[]) {
    if (argc != 2)
        return 2;
    FILE* f = std::fopen(argv[1], "rb");
    if (!f)
        return 1;
    std::string pem;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        pem.append(buffer, n);
    std::fclose(f);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr))
        return 1;
    std::string der(size, '\0');
    if (!CryptStringToBinaryA(pem.c_str(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER,
                              reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
        return 1;
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!root)
        return 1;
    const BOOL added = CertAddEncodedCertificateToStore(
        root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size,
        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(root, 0);
    std::puts(added ? "trusted" : "refused");
    return added ? 0 : 1;
}
