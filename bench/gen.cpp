// Writes a reproducible benchmark tree and a newer version of it.
//
//   gen KIND SCALE SEED OLDDIR NEWDIR STOREDLIST
//
// KIND is small, large or mixed; SCALE is the number of small files (small, mixed) or the total
// size in MiB (large). Every byte follows from SEED, so two runs give identical trees. The newer
// tree has a few percent of the files added, removed, changed and made read-only, one directory
// removed and one added; STOREDLIST receives the relative paths of the newer tree's added and
// changed files, one per line (what a patch has to carry).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(mix(seed)) {}
    uint64_t next() {
        s ^= s << 13, s ^= s >> 7, s ^= s << 17;
        return s;
    }
    uint64_t below(uint64_t n) { return next() % n; }
};

void fill(uint8_t* out, size_t n, uint64_t seed) {
    Rng r(seed);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v = r.next();
        std::memcpy(out + i, &v, 8);
    }
    uint64_t v = r.next();
    std::memcpy(out + i, &v, n - i);
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "gen: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void makeDirs(const std::string& path) {
    for (size_t at = 1; (at = path.find('/', at)) != std::string::npos; ++at) {
        std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            fail(part);
    }
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        fail(path);
}

constexpr size_t kChunk = 1 << 20;

// Content is made of 1 MiB chunks, each from its own seed; a file's version number selects
// which chunks differ from version 0, so a changed large file differs in one region only.
struct File {
    std::string rel;
    uint64_t size;
    uint64_t seed;
    int changedChunk = -1; // -1: unchanged; otherwise that chunk gets another seed
    bool readOnly = false;
};

void writeFile(const std::string& root, const File& f, std::vector<uint8_t>& buffer) {
    std::string path = root + "/" + f.rel;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        fail(path);
    for (uint64_t done = 0, chunk = 0; done < f.size; ++chunk) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, f.size - done));
        uint64_t seed = f.seed * 1000003 + chunk;
        if (static_cast<int64_t>(chunk) == f.changedChunk)
            seed ^= 0xC0FFEE;
        fill(buffer.data(), n, seed);
        if (write(fd, buffer.data(), n) != static_cast<ssize_t>(n))
            fail(path);
        done += n;
    }
    close(fd);
    if (f.readOnly && chmod(path.c_str(), 0444) != 0)
        fail(path);
}

std::string leafDir(size_t j) {
    char text[64];
    std::snprintf(text, sizeof text, "t%02zu/m%02zu/leaf%02zu", j / 400, (j / 20) % 20, j % 20);
    return text;
}

// Small files: 50 to a leaf directory, three levels deep.
void addSmall(std::vector<File>& files, size_t count, uint64_t minSize, uint64_t maxSize,
              uint64_t seed, const std::string& prefix) {
    Rng r(seed);
    for (size_t i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/file%05zu.dat", i);
        files.push_back({prefix + leafDir(i / 50) + name, minSize + r.below(maxSize - minSize + 1),
                         seed * 7919 + i});
    }
}

std::vector<File> olderTree(const std::string& kind, uint64_t scale, uint64_t seed) {
    std::vector<File> files;
    if (kind == "small") {
        addSmall(files, scale, 1024, 16384, seed, "");
    } else if (kind == "large") {
        uint64_t each = (scale << 20) / 8;
        for (int i = 0; i < 8; ++i)
            files.push_back({(i < 4 ? "big/" : "") + std::string("large") + char('0' + i) + ".bin",
                             each, seed * 31 + i});
    } else if (kind == "mixed") {
        addSmall(files, scale, 1024, 16384, seed, "src/");
        Rng r(seed + 1);
        for (size_t i = 0; i < scale / 100; ++i)
            files.push_back(
                {"media/m" + std::to_string(i % 7) + "/medium" + std::to_string(i) + ".bin",
                 (256 << 10) + r.below(4u << 20), seed * 131 + i});
        for (int i = 0; i < 4; ++i)
            files.push_back(
                {"images/disk" + std::to_string(i) + ".img", scale * 12800, seed * 137 + i});
    } else {
        std::fprintf(stderr, "gen: unknown kind %s\n", kind.c_str());
        std::exit(2);
    }
    return files;
}

std::string dirOf(const std::string& rel) {
    size_t at = rel.rfind('/');
    return at == std::string::npos ? "" : rel.substr(0, at);
}

// About 2% changed, 1% removed, 1% made read-only, 2% added; the first leaf directory is
// removed with its files, and a new directory holds some of the added files.
std::vector<File> newerTree(const std::vector<File>& older, const std::string& kind, uint64_t seed,
                            std::vector<std::string>& stored) {
    std::vector<File> files;
    Rng r(seed ^ 0xABCDEF);
    const std::string removedDir = older.size() > 100 ? dirOf(older.front().rel) : "";
    for (size_t i = 0; i < older.size(); ++i) {
        File f = older[i];
        if (!removedDir.empty() && dirOf(f.rel) == removedDir)
            continue;
        uint64_t roll = kind == "large" ? i : r.below(100);
        if (kind == "large" ? roll == 2 : roll < 1)
            continue; // removed
        if (kind == "large" ? roll == 0 : roll < 3) {
            f.changedChunk = static_cast<int>(r.below((f.size + kChunk - 1) / kChunk));
            stored.push_back(f.rel);
        } else if (kind == "large" ? roll == 1 : roll < 4) {
            f.readOnly = true;
        }
        files.push_back(f);
    }
    size_t added = kind == "large" ? 1 : older.size() / 50 + 1;
    for (size_t i = 0; i < added; ++i) {
        const File& like = older[r.below(older.size())];
        std::string dir = i % 4 == 0 ? "added/new" + std::to_string(i % 3) : dirOf(like.rel);
        if (dir == removedDir)
            dir = "added/again";
        File f{(dir.empty() ? "" : dir + "/") + "added" + std::to_string(i) + ".dat",
               kind == "large" ? like.size / 2 : like.size, seed * 104729 + i};
        files.push_back(f);
        stored.push_back(f.rel);
    }
    return files;
}

void writeTree(const std::string& root, const std::vector<File>& files) {
    std::vector<uint8_t> buffer(kChunk);
    makeDirs(root);
    std::string lastDir = "\1";
    for (const auto& f : files) {
        std::string dir = dirOf(f.rel);
        if (dir != lastDir && !dir.empty())
            makeDirs(root + "/" + dir);
        lastDir = dir;
        writeFile(root, f, buffer);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: gen KIND SCALE SEED OLDDIR NEWDIR STOREDLIST\n");
        return 2;
    }
    const std::string kind = argv[1];
    const uint64_t scale = std::strtoull(argv[2], nullptr, 10);
    const uint64_t seed = std::strtoull(argv[3], nullptr, 10);
    std::vector<File> older = olderTree(kind, scale, seed);
    std::vector<std::string> stored;
    std::vector<File> newer = newerTree(older, kind, seed, stored);
    writeTree(argv[4], older);
    writeTree(argv[5], newer);
    FILE* list = std::fopen(argv[6], "w");
    if (!list)
        fail(argv[6]);
    for (const auto& rel : stored)
        std::fprintf(list, "%s\n", rel.c_str());
    std::fclose(list);
    return 0;
}
