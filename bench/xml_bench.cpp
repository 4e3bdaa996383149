// Vault write + read of synthetic snapshots, and report trees with many siblings in one
// directory, at two sizes; prints the times and the ratio of the larger to the smaller.
#include "OstmereEngine.h"
#include "compare/patchinfo.h"
#include "core/tkerr.h"
#include "quietsink.h"
#include "snapshot/dirscan.h"
#include "xml/xmlrep.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

using namespace ostmere;

namespace {

CDirSnapshot syntheticSnapshot(int entries) {
    CDirSnapshot snapshot;
    for (int d = 0; d < entries / 100; ++d) {
        std::u16string dir = u"\\dir" + decimal(d);
        CEntry& directory = snapshot.addDirectory(dir);
        directory.setAttributes(16);
        for (int f = 0; f < 99; ++f) {
            CEntry& file = snapshot.addFile(dir + u"\\file" + decimal(f) + u".dat");
            file.setAttributes(32);
            file.id = CFileId::fromText(u"da39a3ee5e6b4b0d3255bfef95601890afd80709");
        }
    }
    return snapshot;
}

double cpuNow() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Best of five runs, in process CPU time: the scaling is what matters here, and the best CPU
// time is the figure least distorted by other work on a busy machine.
template <typename Run> double seconds(Run run) {
    double times[5];
    for (double& time : times) {
        double start = cpuNow();
        run();
        time = cpuNow() - start;
    }
    std::sort(std::begin(times), std::end(times));
    return times[0];
}

double vaultRoundTrip(int entries, const std::u16string& file) {
    CDirSnapshot snapshot = syntheticSnapshot(entries);
    QuietSink sink(1 << 16);
    return seconds([&] {
        writeVault(&sink, file, snapshot);
        readVault(&sink, file);
    });
}

double reportOneDirectory(int paths, const std::u16string& file) {
    CPatchInfo info;
    for (int i = 0; i < paths; ++i)
        info.NewFiles.push_back(u"\\one\\file" + decimal(i) + u".dat");
    QuietSink sink(1 << 16);
    return seconds([&] { writeDiffReport(&sink, file, info); });
}

void row(const char* what, double small, double large) {
    std::printf("| %-32s | %8.3f s | %8.3f s | %5.2f |\n", what, small, large, large / small);
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path work = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    std::u16string file = utf8ToUtf16((work / "xml_bench.xml").string());
    std::printf("| %-32s | %10s | %10s | %5s |\n", "XML (CPU time, best of 5)", "100k", "200k",
                "ratio");
    std::printf("|%s|%s|%s|%s|\n", std::string(34, '-').c_str(), std::string(12, '-').c_str(),
                std::string(12, '-').c_str(), std::string(7, '-').c_str());
    row("vault write + read (entries)", vaultRoundTrip(100000, file), vaultRoundTrip(200000, file));
    row("report tree, one directory", reportOneDirectory(100000, file),
        reportOneDirectory(200000, file));
    std::filesystem::remove(work / "xml_bench.xml");
    return 0;
}
