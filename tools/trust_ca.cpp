// trust_ca.exe <ca.der>: adds the test certificate authority to the current user's root store,
// so WinHTTP inside the test Wine prefix accepts the local update service's certificate.
// Exit codes: 0 trusted, 1 unreadable file, 2 store or certificate refused, 3 bad command line.
#include "win/handles.h"

#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <vector>

namespace {
struct CertStoreTraits {
    using Value = HCERTSTORE;
    static Value empty() { return nullptr; }
    static void close(Value s) { CertCloseStore(s, 0); }
};
using UniqueCertStore = UniqueHandle<CertStoreTraits>;

bool readWholeFile(const wchar_t* path, std::vector<BYTE>& bytes) {
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > 1 << 20)
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
           read == bytes.size();
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: trust_ca <ca.der>\n");
        return 3;
    }
    std::vector<BYTE> der;
    if (!readWholeFile(argv[1], der)) {
        fwprintf(stderr, L"trust_ca: cannot read %ls\n", argv[1]);
        return 1;
    }
    UniqueCertStore store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT"));
    if (!store || !CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                                    static_cast<DWORD>(der.size()),
                                                    CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        fwprintf(stderr, L"trust_ca: the root store refused the certificate (error %lu)\n", GetLastError());
        return 2;
    }
    return 0;
}
