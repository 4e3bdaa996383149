// Public interface of the Ostmere engine library.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(_WIN32)
#define OSTMERE_API __declspec(dllexport)
#else
#define OSTMERE_API __attribute__((visibility("default")))
#endif

enum eErrType : int32_t { eErrGeneral = 0 };

// What a caller may need to tell apart without reading the message; the printed error text
// does not show it.
enum eErrKind : int32_t {
    eKindGeneral = 0,
    eKindTargetMismatch = 1, // the target is not the tree the patch was made from
};

// The one exception through which the engine reports every failure it detects.
class OSTMERE_API CTKErr {
  public:
    CTKErr();
    CTKErr(eErrType type, std::u16string message, const char* file, int32_t line);
    CTKErr(const CTKErr&) = default;
    CTKErr& operator=(const CTKErr&) = default;
    ~CTKErr();

    // Four lines: type, message, error code (hex), location.
    std::u16string toStr() const;

    eErrType type;
    std::u16string message;
    const char* file; // static text, not owned
    int32_t line;
    uint32_t errorCode; // errno when the error was constructed
    eErrKind kind = eKindGeneral;
    // The errno of the system call whose failure raised this error; 0 when the error has no
    // such cause. Unlike errorCode it is never left over from an earlier call.
    int32_t systemError = 0;
};

// Thrown by a sink implementation to cancel the running operation.
class OSTMERE_API COPCancel {};

// Raised by the XML layer for failures of the XML library itself; deliberately not a CTKErr.
class OSTMERE_API CXmlError : public std::runtime_error {
  public:
    static constexpr uint32_t E_POINTER_CODE = 0x80004003u;
    static constexpr uint32_t E_OUTOFMEMORY_CODE = 0x8007000Eu;

    CXmlError(uint32_t code, std::u16string description);
    uint32_t code() const { return code_; }
    const std::u16string& description() const { return description_; }

  private:
    uint32_t code_;
    std::u16string description_;
};

// Callback interface of every operation. The slot order is part of the interface.
class OSTMERE_API CProgressSink {
  public:
    virtual uint32_t getBufferSize() = 0;
    virtual uint8_t* getBuffer() = 0;
    virtual void setStatus(const std::u16string& text) = 0;
    virtual void setDetail(const std::u16string& text) = 0;
    virtual void showMessage(const std::u16string& text) = 0;
    virtual void setProgressRange(uint32_t steps) = 0;
    virtual void resetProgress() = 0;
    virtual void stepProgress() = 0;

  protected:
    ~CProgressSink() = default; // the engine never owns or destroys a sink
};

// Optional second interface of a sink: receives diagnostic trace lines ("Would write ...").
// The engine looks for it with dynamic_cast; a sink without it gets no trace.
class OSTMERE_API CTraceSink {
  public:
    virtual void trace(const std::u16string& line) = 0;

  protected:
    ~CTraceSink() = default;
};

// Optional interface of a sink, found like CTraceSink: one-line notices about a run that are
// neither progress nor errors (items a scan skipped, a patch that was not authenticated).
class OSTMERE_API CNoticeSink {
  public:
    virtual void notice(const std::u16string& line) = 0;

  protected:
    ~CNoticeSink() = default;
};

// Optional third interface of a sink: the bytes of file contents as they pass (hashed, stored
// into a patch, extracted from one), so that a display can show the progress inside a large
// file. Found by dynamic_cast like CTraceSink; the base sink calls are unchanged by it.
class OSTMERE_API CByteProgressSink {
  public:
    // The number of content bytes the stage just begun will move, where it is known.
    virtual void stageBytes(uint64_t total) = 0;
    // Whether stageBytes is wanted at all: announcing a total costs a look at every file first.
    virtual bool wantsStageBytes() { return true; }
    // May throw COPCancel, like the base sink's setStatus, setDetail and stepProgress.
    virtual void bytesDone(uint64_t count) = 0;

  protected:
    ~CByteProgressSink() = default;
};

// Whole-second stopwatch.
class OSTMERE_API CTimer {
  public:
    CTimer();
    CTimer& operator=(const CTimer&) = default;
    void start();
    void stop();
    std::u16string getTime() const; // "%.2d:%.2d:%.2d"

    int64_t stopTime;
    int64_t startTime;
};

// Copies "1.01" and a terminating zero (5 code units) into buffer.
OSTMERE_API void OstmereVersion(char16_t* buffer);

OSTMERE_API void tkCreateVault(CProgressSink* sink, std::u16string directory, std::u16string filter,
                               std::u16string vaultFile);
OSTMERE_API void tkCreatePatchVault(CProgressSink* sink, std::u16string directory,
                                    std::u16string patchFile, std::u16string vaultFile,
                                    std::u16string reportFile, bool updateVault);
OSTMERE_API void tkDiffCreatePatch(CProgressSink* sink, std::u16string olderDir,
                                   std::u16string newerDir, std::u16string patchFile,
                                   std::u16string reportFile, std::u16string filter);
OSTMERE_API void tkApplyPatch(CProgressSink* sink, std::u16string directory,
                              std::u16string patchFile, std::u16string reportFile,
                              bool continueOnErrors, bool ignoreFingerprint);
OSTMERE_API void tkQuerryPatch(CProgressSink* sink, std::u16string patchFile,
                               std::u16string reportFile);
OSTMERE_API std::u16string tkFingerprint(CProgressSink* sink, std::u16string directory,
                                         std::u16string filter);

namespace ostmere {

// How the engine may use the machine; a caller's sink hands them over by also deriving from
// COptionsSink. Without it the defaults hold.
struct EngineOptions {
    // Threads that read and hash file contents while the caller's thread reports them in
    // order; 0 means one per core. At most kMaxHashJobs are used.
    uint32_t hashJobs = 0;
    static constexpr uint32_t kMaxHashJobs = 16;
};

// Optional further interface of a sink, found with dynamic_cast like CTraceSink.
class OSTMERE_API COptionsSink {
  public:
    virtual EngineOptions engineOptions() = 0;

  protected:
    ~COptionsSink() = default;
};

struct ApplyOptions {
    bool continueOnErrors = false;
    bool ignoreFingerprint = false;
    // Carried setuid and setgid bits are set only when asked for.
    bool keepSetuid = false;
};

// How an application that raised no error ended.
enum class ApplyResult {
    verified,      // the target now has the newer fingerprint
    newerMismatch, // applied, but the target's fingerprint is not the newer one
    notVerified,   // applied with ignoreFingerprint: nothing was checked
    // the fingerprint matches, but the permission bits the patch carries do not
    metadataMismatch,
};

// tkApplyPatch with the outcome returned instead of only shown as a status text.
OSTMERE_API ApplyResult applyPatch(CProgressSink* sink, std::u16string directory,
                                   std::u16string patchFile, std::u16string reportFile,
                                   const ApplyOptions& options);

// How a patch is written. The base format stores every file whole; the compact format
// ("OstmereCompact 01.00") stores each one compressed or, when the older file is at hand
// (two directories), as a delta against it, whichever is smallest.
struct CreateOptions {
    bool compact = false;
    int level = 3; // zstd level
    // Files are coded in independent frames of this many bytes (at most 32 MiB), which bounds
    // the memory of writing and applying a patch whatever the file sizes.
    uint64_t frameSize = 4ull << 20;
    // A secret key file: the patch is signed with it before it is put in place; empty for an
    // unsigned patch. A key file that cannot be used is refused before anything is scanned.
    std::u16string signingKeyFile;
};

// tkDiffCreatePatch and tkCreatePatchVault with a choice of format. With default options they
// write exactly what the base functions write.
OSTMERE_API void createPatchFromDirectories(CProgressSink* sink, std::u16string olderDir,
                                            std::u16string newerDir, std::u16string patchFile,
                                            std::u16string reportFile, std::u16string filter,
                                            const CreateOptions& options);
OSTMERE_API void createPatchFromVault(CProgressSink* sink, std::u16string newerDir,
                                      std::u16string patchFile, std::u16string vaultFile,
                                      std::u16string reportFile, bool updateVault,
                                      const CreateOptions& options);

// What a patch holds, read from its information block and file table.
struct PatchSummary {
    std::u16string olderFingerprint, newerFingerprint, filter;
    uint64_t removedFiles = 0, removedDirectories = 0, newDirectories = 0, newFiles = 0,
             changedFiles = 0, attributeChanges = 0, ignoredNew = 0, ignoredOld = 0;
    uint64_t storedBytes = 0;   // bytes the new and changed files take in the patch
    uint64_t originalBytes = 0; // their content bytes once extracted
    bool compact = false;       // the compact format (its stored contents were all checked)
    uint64_t patchBytes = 0;    // size of the patch file
};

// Reads and checks the structure of a patch (header, information block, safe paths, file
// records against the file table) without extracting anything; raises like applyPatch would.
OSTMERE_API PatchSummary describePatch(CProgressSink* sink, std::u16string patchFile);

// What applying a patch would do, found without changing anything.
struct PatchCheck {
    PatchSummary patch;
    std::u16string targetFingerprint;
    bool targetMatches = false; // the target is the tree the patch was made from
    // Every stored content was hashed, and the tree that removing, creating and storing would
    // make has the patch's newer fingerprint. Checked only when the target matches.
    bool contentsVerified = false;
    std::deque<std::u16string> removeFiles, removeDirectories, createDirectories, writeFiles;
    std::map<std::u16string, uint32_t> setAttributes;
};

// Checks the target's fingerprint and the whole patch, its stored contents included, and
// lists the changes an application would make. A patch whose contents do not make its newer
// tree is refused with an error.
OSTMERE_API PatchCheck checkPatch(CProgressSink* sink, std::u16string directory,
                                  std::u16string patchFile);

// Signed patches. A key pair is made once; the secret key signs patches, and a target that
// trusts the public key accepts only what it signed.
OSTMERE_API std::u16string createSigningKey(const std::u16string& keyFile); // returns the key id
OSTMERE_API void signPatch(CProgressSink* sink, const std::u16string& patchFile,
                           const std::u16string& keyFile);

struct TrustOptions {
    std::vector<std::u16string> trustedKeyFiles; // public key files (".pub")
    bool allowUnsigned = false;
};

struct SignatureStatus {
    bool present = false;  // the patch is signed
    bool verified = false; // by a trusted key, over exactly these bytes
    std::u16string keyId;
};

// Reads the whole patch once and checks its signature against the trusted keys; raises when
// the patch must be refused (unsigned while keys are trusted, an untrusted key, or bytes that
// do not match the signature).
OSTMERE_API SignatureStatus checkPatchSignature(CProgressSink* sink,
                                                const std::u16string& patchFile,
                                                const TrustOptions& trust);

} // namespace ostmere

// UTF-8 (file-system and console form) to UTF-16 and back; undecodable bytes map to
// lone surrogates U+DC80..U+DCFF so that every byte sequence round-trips.
OSTMERE_API std::u16string utf8ToUtf16(const std::string& text);
OSTMERE_API std::string utf16ToUtf8(const std::u16string& text);
