// Prints the engine's version and the fingerprint of the directory given, through the
// installed header and library only.
#include "OstmereEngine.h"
#include "ostmere_version.h"

#include <cstdio>
#include <vector>

namespace {

class QuietSink : public CProgressSink {
  public:
    uint32_t getBufferSize() override { return static_cast<uint32_t>(buffer_.size()); }
    uint8_t* getBuffer() override { return buffer_.data(); }
    void setStatus(const std::u16string&) override {}
    void setDetail(const std::u16string&) override {}
    void showMessage(const std::u16string&) override {}
    void setProgressRange(uint32_t) override {}
    void resetProgress() override {}
    void stepProgress() override {}

  private:
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(65536);
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    QuietSink sink;
    try {
        std::printf("%s %s\n", OSTMERE_VERSION,
                    utf16ToUtf8(tkFingerprint(&sink, utf8ToUtf16(argv[1]), u"")).c_str());
    } catch (const CTKErr& e) {
        std::fprintf(stderr, "%s", utf16ToUtf8(e.toStr()).c_str());
        return 1;
    }
    return 0;
}
