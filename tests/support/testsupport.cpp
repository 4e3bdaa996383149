#include "testsupport.h"

#include "snapshot/sha1.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

namespace testing_support {

void RecordingSink::setStatus(const std::u16string& text) {
    record("status:" + narrow(text));
    maybeCancel("status");
}

void RecordingSink::setDetail(const std::u16string& text) {
    record("detail:" + narrow(text));
    maybeCancel("detail");
}

void RecordingSink::stepProgress() {
    record("step");
    maybeCancel("step");
}

void RecordingSink::maybeCancel(const std::string& kind) {
    if (kind == cancelKind_ && ++seen_ == cancelAt_)
        throw COPCancel();
}

std::vector<std::string> RecordingSink::statuses() const {
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.rfind("status:", 0) == 0)
            out.push_back(c.substr(7));
    return out;
}

bool RecordingSink::sawStatus(const std::string& text) const {
    auto s = statuses();
    return std::find(s.begin(), s.end(), text) != s.end();
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("ostmere-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::u16string backslashed(std::u16string path) {
    std::replace(path.begin(), path.end(), u'/', u'\\');
    return path;
}

std::string enginePath(const fs::path& p) {
    return utf16ToUtf8(backslashed(u16(p)));
}

std::u16string u16(const fs::path& p) {
    return utf8ToUtf16(p.string());
}

void writeFile(const fs::path& p, const std::string& content) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
}

std::vector<std::string> narrowed(const std::deque<std::u16string>& list) {
    std::vector<std::string> out;
    for (const auto& s : list)
        out.push_back(::utf16ToUtf8(s));
    return out;
}

std::string randomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

std::string sha1Of(const std::string& bytes) {
    ostmere::CSha1 sha;
    sha.update(bytes.data(), bytes.size());
    uint8_t digest[20];
    sha.finish(digest);
    return ::utf16ToUtf8(ostmere::digestToHex(digest));
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void makeReadOnly(const fs::path& p, bool readOnly) {
    auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if (readOnly)
        fs::permissions(p, write, fs::perm_options::remove);
    else
        fs::permissions(p, fs::perms::owner_write, fs::perm_options::add);
}

void makeTree(const fs::path& root, const std::vector<TreeEntry>& entries) {
    for (const auto& e : entries) {
        if (!e.path.empty() && e.path.back() == '/')
            fs::create_directories(root / e.path);
        else
            writeFile(root / e.path, e.content);
    }
}

std::vector<std::string> describeTree(const fs::path& root) {
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        std::string rel = it->path().lexically_relative(root).string();
        // What an interrupted or stopped apply keeps for its rerun is no part of the tree.
        if (rel == kStagingArea) {
            it.disable_recursion_pending();
            continue;
        }
        bool ro =
            (fs::status(it->path()).permissions() & fs::perms::owner_write) == fs::perms::none;
        std::string line = it->is_directory() ? rel + "/" : rel + "=" + readFile(it->path());
        out.push_back(line + (ro ? " +ro" : ""));
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace testing_support
