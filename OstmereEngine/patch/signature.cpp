#include "patch/signature.h"

#include "core/byteprogress.h"
#include "core/descriptor.h"
#include "core/platform.h"
#include "core/tkerr.h"
#include "patch/sha256.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>

TK_MODULE("signature");

namespace ostmere {

namespace {

constexpr size_t kDigestBytes = CSha256::kDigestBytes;
constexpr size_t kSignatureBytes = crypto_sign_BYTES;
// tag, version DWORD, key id string (tag, DWORD length, 16 code units), digest, signature
constexpr size_t kHeaderBytes = 1 + 5 + 1 + 5 + 2 * kKeyIdLength;
constexpr size_t kRecordBytes = kHeaderBytes + kDigestBytes + kSignatureBytes;
constexpr char kSecretTag[] = "ostmere-ed25519-secret";
constexpr char kPublicTag[] = "ostmere-ed25519";

void requireSodium() {
    if (sodium_init() < 0)
        TK_RAISE(u"Unable to start the signature library.");
}

std::string toBase64(const uint8_t* bytes, size_t n) {
    std::string text(sodium_base64_encoded_len(n, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, n, sodium_base64_VARIANT_ORIGINAL);
    text.resize(std::strlen(text.c_str()));
    return text;
}

template <size_t N> bool fromBase64(const std::string& text, std::array<uint8_t, N>& out) {
    size_t length = 0;
    return sodium_base642bin(out.data(), N, text.data(), text.size(), nullptr, &length, nullptr,
                             sodium_base64_VARIANT_ORIGINAL) == 0 &&
           length == N;
}

std::u16string keyIdOf(const uint8_t* publicKey) {
    uint8_t digest[kDigestBytes];
    CSha256 sha;
    sha.update(publicKey, crypto_sign_PUBLICKEYBYTES);
    sha.finish(digest);
    char hex[kKeyIdLength + 1];
    sodium_bin2hex(hex, sizeof hex, digest, kKeyIdLength / 2);
    return utf8ToUtf16(hex);
}

// A key file is one line: tag, key id, base64 key.
std::string keyLine(const char* tag, const std::u16string& keyId, const std::string& key) {
    return std::string(tag) + " " + utf16ToUtf8(keyId) + " " + key + "\n";
}

CDescriptor createNewFile(const std::u16string& path, mode_t mode) {
    CDescriptor fd(::open(nativePath(path).c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd)
        TK_RAISE(u"Unable to create a key file (it must not exist yet): " + path);
    return fd;
}

void writeKeyFile(const CDescriptor& fd, const std::u16string& path, const std::string& text,
                  mode_t mode) {
    // The mode is set again: the umask must not open a secret key to others.
    if (fchmod(fd.get(), mode) != 0 ||
        ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        fsync(fd.get()) != 0)
        TK_RAISE(u"Unable to write a key file: " + path);
}

struct CKeyLine {
    std::string tag, keyId, key;
};

CKeyLine readKeyLine(const std::u16string& path) {
    CDescriptor fd(::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
    char buffer[512];
    ssize_t n = fd ? ::read(fd.get(), buffer, sizeof buffer - 1) : -1;
    if (n < 0)
        TK_RAISE_SYSTEM(u"Unable to read a key file: " + path);
    if (n == 0)
        TK_RAISE(u"Not a key file of this program: " + path);
    std::string text(buffer, static_cast<size_t>(n));
    CKeyLine line;
    size_t a = text.find(' '), b = a == std::string::npos ? a : text.find(' ', a + 1);
    size_t end = text.find_first_of("\r\n");
    if (b == std::string::npos || (end != std::string::npos && end < b))
        TK_RAISE(u"Not a key file of this program: " + path);
    line.tag = text.substr(0, a);
    line.keyId = text.substr(a + 1, b - a - 1);
    line.key = text.substr(b + 1, end == std::string::npos ? end : end - b - 1);
    return line;
}

template <size_t N>
bool readKey(const std::u16string& path, const char* tag, std::u16string& keyId,
             std::array<uint8_t, N>& key, size_t publicAt) {
    requireSodium();
    CKeyLine line = readKeyLine(path);
    keyId = utf8ToUtf16(line.keyId);
    const bool sound =
        line.tag == tag && fromBase64(line.key, key) && keyIdOf(key.data() + publicAt) == keyId;
    sodium_memzero(line.key.data(), line.key.size());
    return sound;
}

// SHA-256 of the first `length` bytes of the file, through the sink's work buffer.
void hashPrefix(CProgressSink* sink, CFileReader& file, uint64_t length, uint8_t* digest) {
    CSha256 sha;
    CByteProgressSink* bytes = byteSinkOf(sink);
    file.seek(0);
    file.adviseSequential();
    uint8_t* buffer = sink->getBuffer();
    const uint64_t chunk = sink->getBufferSize();
    for (uint64_t done = 0; done < length;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, length - done));
        size_t got = file.read(buffer, n);
        if (got == 0)
            TK_RAISE(u"Unable to read a buffer from a patch.");
        sha.update(buffer, got);
        done += got;
        reportBytes(bytes, got); // a cancel can stop the pass over a large patch
    }
    sha.finish(digest);
}

std::string recordHeader(const std::u16string& keyId) {
    std::string header;
    header += static_cast<char>(TYPE_SIGNATURE);
    auto dword = [&](uint32_t v) {
        header += static_cast<char>(0x11);
        for (int i = 0; i < 4; ++i)
            header += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    dword(kSignatureRecordVersion);
    header += static_cast<char>(0x10);
    dword(static_cast<uint32_t>(keyId.size()));
    for (char16_t c : keyId) {
        header += static_cast<char>(c & 0xFF);
        header += static_cast<char>(c >> 8);
    }
    return header;
}

// The signed message: the digest of the patch, then the record's own header, so a signature
// cannot be moved to another patch or another key id.
std::string signedMessage(const uint8_t* digest, const std::string& header) {
    return std::string(reinterpret_cast<const char*>(digest), kDigestBytes) + header;
}

std::string signatureRecord(CProgressSink* sink, CFileReader& patch, uint64_t length,
                            const CSigningKey& key) {
    requireSodium();
    uint8_t digest[kDigestBytes];
    hashPrefix(sink, patch, length, digest);
    const std::string header = recordHeader(key.keyId);
    const std::string message = signedMessage(digest, header);
    uint8_t signature[kSignatureBytes];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const uint8_t*>(message.data()),
                         message.size(), key.secret.data());
    return header + std::string(reinterpret_cast<const char*>(digest), sizeof digest) +
           std::string(reinterpret_cast<const char*>(signature), sizeof signature);
}

void writeRecord(CFileReader& out, uint64_t at, const std::string& record) {
    out.seek(at);
    out.writeBuffer(record.data(), record.size());
    if (!out.flush())
        TK_RAISE(u"Unable write buffer to a patch. exp:" + decimal(kRecordBytes) + u" actual:0");
}

uint64_t patchLength(CFileReader& patch, const std::u16string& patchFile) {
    const int64_t size = patch.size();
    if (size < 0)
        TK_RAISE(u"Unable to get a file  size:" + patchFile);
    return static_cast<uint64_t>(size);
}

// The key id of the signature record that begins at `at`, or nothing when the bytes there are
// not the header of one. Only the exact header counts: a byte 0x19 that happens to lie there in
// an unsigned patch's file table does not make it signed (its reader, which reads the records
// in order, would find the record anyway).
std::u16string recordKeyId(CFileReader& in, uint64_t at) {
    char header[kHeaderBytes];
    in.seek(at);
    if (in.read(header, sizeof header) != sizeof header)
        return u"";
    std::u16string keyId;
    for (size_t i = kHeaderBytes - 2 * kKeyIdLength; i < kHeaderBytes; i += 2)
        keyId += static_cast<char16_t>(static_cast<uint8_t>(header[i]) |
                                       static_cast<uint8_t>(header[i + 1]) << 8);
    if (!isLowerHex(keyId, kKeyIdLength) ||
        recordHeader(keyId) != std::string(header, sizeof header))
        return u"";
    return keyId;
}

} // namespace

std::u16string generateKeyPair(const std::u16string& keyFile) {
    requireSodium();
    const std::u16string publicFile = keyFile + u".pub";
    // Both files are claimed before either is written, so a refusal leaves neither behind.
    CDescriptor secretFd = createNewFile(keyFile, 0600);
    CDescriptor publicFd;
    try {
        publicFd = createNewFile(publicFile, 0644);
    } catch (const CTKErr&) {
        ::unlink(nativePath(keyFile).c_str());
        throw;
    }
    uint8_t publicKey[crypto_sign_PUBLICKEYBYTES];
    uint8_t secret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publicKey, secret);
    const std::u16string keyId = keyIdOf(publicKey);
    std::string secretLine = keyLine(kSecretTag, keyId, toBase64(secret, sizeof secret));
    sodium_memzero(secret, sizeof secret);
    writeKeyFile(secretFd, keyFile, secretLine, 0600);
    sodium_memzero(secretLine.data(), secretLine.size());
    writeKeyFile(publicFd, publicFile,
                 keyLine(kPublicTag, keyId, toBase64(publicKey, sizeof publicKey)), 0644);
    return keyId;
}

CSigningKey::~CSigningKey() {
    sodium_memzero(secret.data(), secret.size());
}

CSigningKey readSigningKey(const std::u16string& keyFile) {
    CSigningKey key;
    // The public half is the second half of the secret key; the id must be its id.
    if (!readKey(keyFile, kSecretTag, key.keyId, key.secret, 32))
        TK_RAISE(u"Not a secret key file of this program: " + keyFile);
    // As ssh does: a secret key that others could have read may be known to them.
    struct stat st;
    if (::stat(nativePath(keyFile).c_str(), &st) != 0 || (st.st_mode & 077))
        TK_RAISE(u"Refusing a secret key file that group or others may read (make it mode "
                 u"0600): " +
                 keyFile);
    return key;
}

CTrustedKey readTrustedKey(const std::u16string& publicKeyFile) {
    CTrustedKey key;
    if (!readKey(publicKeyFile, kPublicTag, key.keyId, key.publicKey, 0))
        TK_RAISE(u"Not a public key file of this program: " + publicKeyFile);
    return key;
}

void appendSignature(CProgressSink* sink, CFileReader& patch, const CSigningKey& key) {
    const uint64_t length = patchLength(patch, u"");
    writeRecord(patch, length, signatureRecord(sink, patch, length, key));
}

void appendSignature(CProgressSink* sink, const std::u16string& patchFile, const CSigningKey& key) {
    std::string record;
    uint64_t length;
    {
        CInputFile in(patchFile);
        length = patchLength(in, patchFile);
        record = signatureRecord(sink, in, length, key);
    }
    COutputFile out(patchFile);
    writeRecord(out, length, record);
}

CSignatureCheck checkSignature(CProgressSink* sink, const std::u16string& patchFile,
                               const std::vector<CTrustedKey>& trusted, bool allowUnsigned) {
    requireSodium();
    CSignatureCheck check;
    CInputFile in(patchFile);
    const int64_t size = in.size();
    if (size >= static_cast<int64_t>(kRecordBytes)) {
        check.signedEnd = static_cast<uint64_t>(size) - kRecordBytes;
        check.keyId = recordKeyId(in, check.signedEnd);
        check.present = !check.keyId.empty();
    }
    if (!check.present) {
        if (!trusted.empty() && !allowUnsigned)
            TK_RAISE(u"The patch is not signed, and only patches signed by a trusted key are "
                     u"accepted: " +
                     patchFile);
        return check;
    }
    const CTrustedKey* key = nullptr;
    for (const auto& k : trusted)
        if (k.keyId == check.keyId)
            key = &k;
    if (!key) {
        if (!trusted.empty())
            TK_RAISE(u"The patch is signed by key " + check.keyId + u", which is not trusted.");
        return check; // nothing to check it against: reported as signed, not verified
    }
    uint8_t stored[kDigestBytes + kSignatureBytes];
    in.seek(check.signedEnd + kHeaderBytes);
    in.readBuffer(stored, sizeof stored);
    uint8_t digest[kDigestBytes];
    hashPrefix(sink, in, check.signedEnd, digest);
    const std::string message = signedMessage(digest, recordHeader(check.keyId));
    if (sodium_memcmp(digest, stored, kDigestBytes) != 0 ||
        crypto_sign_verify_detached(stored + kDigestBytes,
                                    reinterpret_cast<const uint8_t*>(message.data()),
                                    message.size(), key->publicKey.data()) != 0)
        TK_RAISE(u"The patch does not match its signature by key " + check.keyId + u".");
    check.verified = true;
    return check;
}

std::u16string readSignatureRecord(CFileReader& in) {
    if (in.readDword() != kSignatureRecordVersion)
        TK_RAISE(u"The patch's signature record is damaged.");
    std::u16string keyId = in.readString();
    if (!isLowerHex(keyId, kKeyIdLength))
        TK_RAISE(u"The patch's signature record is damaged.");
    uint8_t rest[kDigestBytes + kSignatureBytes];
    in.readBuffer(rest, sizeof rest);
    if (!in.eof())
        TK_RAISE(u"The patch holds data after its signature.");
    return keyId;
}

std::u16string createSigningKey(const std::u16string& keyFile) {
    return generateKeyPair(keyFile);
}

void signPatch(CProgressSink* sink, const std::u16string& patchFile,
               const std::u16string& keyFile) {
    appendSignature(sink, patchFile, readSigningKey(keyFile));
}

SignatureStatus checkPatchSignature(CProgressSink* sink, const std::u16string& patchFile,
                                    const TrustOptions& trust) {
    std::vector<CTrustedKey> keys;
    for (const auto& file : trust.trustedKeyFiles)
        keys.push_back(readTrustedKey(file));
    const CSignatureCheck check = checkSignature(sink, patchFile, keys, trust.allowUnsigned);
    return {check.present, check.verified, check.keyId};
}

} // namespace ostmere
