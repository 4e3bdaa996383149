// Signed patches: Ed25519 key pairs, the signature record that ends a signed patch, and the
// check a target makes before it reads anything else of a patch.
#pragma once

#include "OstmereEngine.h"
#include "core/fileReader.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ostmere {

constexpr uint8_t TYPE_SIGNATURE = 0x19;
constexpr uint32_t kSignatureRecordVersion = 1;
constexpr size_t kKeyIdLength = 16; // hexadecimal digits

struct CSigningKey {
    ~CSigningKey(); // wipes the secret
    std::u16string keyId;
    std::array<uint8_t, 64> secret;
};

struct CTrustedKey {
    std::u16string keyId;
    std::array<uint8_t, 32> publicKey;
};

// Writes a new key pair: the secret key to keyFile (mode 0600, never over an existing file) and
// the public key to keyFile + ".pub". Returns the key id.
std::u16string generateKeyPair(const std::u16string& keyFile);
CSigningKey readSigningKey(const std::u16string& keyFile);
CTrustedKey readTrustedKey(const std::u16string& publicKeyFile);

// Appends the signature record to a complete patch: key id, SHA-256 of every byte before the
// record, and the Ed25519 signature over that digest and the record's header.
void appendSignature(CProgressSink* sink, const std::u16string& patchFile, const CSigningKey& key);
// The same for a patch open for reading and writing (the temporary file of its creation).
void appendSignature(CProgressSink* sink, CFileReader& patch, const CSigningKey& key);

struct CSignatureCheck {
    bool present = false;   // the patch ends with a signature record
    bool verified = false;  // ...made by one of the trusted keys, over these very bytes
    std::u16string keyId;   // the key that signed, when present
    uint64_t signedEnd = 0; // where the record begins: the end of the signed bytes
};

// Checks the signature of a patch before anything else of it is read. With trusted keys, an
// unsigned patch (unless allowUnsigned), a patch signed by another key, or one whose bytes do
// not match its signature is refused with an error naming the key id.
CSignatureCheck checkSignature(CProgressSink* sink, const std::u16string& patchFile,
                               const std::vector<CTrustedKey>& trusted, bool allowUnsigned);

// Reads the structure of the signature record at the reader's position (its tag already
// read) and returns the key id; the record must end the file.
std::u16string readSignatureRecord(CFileReader& in);

} // namespace ostmere
