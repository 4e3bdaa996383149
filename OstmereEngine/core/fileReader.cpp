#include "core/fileReader.h"

#include "core/pathopen.h"
#include "core/platform.h"
#include "core/tkerr.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TK_MODULE("fileReader");

namespace ostmere {

namespace {

// Opening without waiting: a named pipe in a tree would otherwise block the open until some
// writer appears. Reads wait as usual once the file is open.
int openForReading(const std::u16string& path) {
    int fd = openPath(nativePath(path), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

CFileReader::~CFileReader() {
    if (fd_ >= 0)
        close(fd_);
}

uint8_t* CFileReader::stage() {
    if (!stage_)
        stage_ = std::make_unique_for_overwrite<uint8_t[]>(kStageSize);
    return stage_.get();
}

void CFileReader::dropReadAhead() {
    if (readEnd_ > readPos_)
        lseek(fd_, -static_cast<off_t>(readEnd_ - readPos_), SEEK_CUR);
    readPos_ = readEnd_ = 0;
}

bool CFileReader::flush() {
    writeOut();
    bool ok = !writeFailed_;
    writeFailed_ = false;
    return ok;
}

// A failure stays recorded until flush() reports it: a seek or read in between must not
// hide it from the writer.
void CFileReader::writeOut() {
    size_t done = 0;
    while (done < pending_) {
        ssize_t n = ::write(fd_, stage_.get() + done, pending_ - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            writeFailed_ = true;
            break;
        }
        done += static_cast<size_t>(n);
    }
    pending_ = 0;
}

bool CFileReader::eof() {
    return static_cast<int64_t>(tell()) >= size();
}

uint64_t CFileReader::tell() {
    off_t pos = lseek(fd_, 0, SEEK_CUR);
    if (pos < 0)
        return 0;
    return static_cast<uint64_t>(pos) - (readEnd_ - readPos_) + pending_;
}

void CFileReader::seek(uint64_t position) {
    writeOut();
    // The read-ahead window ends at the descriptor's position. Records visited in file order
    // (the file table's checks, extracting small files) mostly lie inside the window already
    // read, and reading it again would cost a full stage per record.
    if (readEnd_) {
        off_t end = lseek(fd_, 0, SEEK_CUR);
        if (end >= 0 && position < static_cast<uint64_t>(end) &&
            position + readEnd_ >= static_cast<uint64_t>(end)) {
            readPos_ = static_cast<size_t>(position - (static_cast<uint64_t>(end) - readEnd_));
            return;
        }
    }
    readPos_ = readEnd_ = 0;
    lseek(fd_, static_cast<off_t>(position), SEEK_SET);
}

int64_t CFileReader::size() {
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0)
        return -1;
    if (!pending_) // the common case of a file being read: no position query needed
        return st.st_size;
    // Combined records not yet written out still belong to the file.
    return std::max<int64_t>(st.st_size, static_cast<int64_t>(tell()));
}

uint64_t CFileReader::remaining() {
    int64_t total = size();
    uint64_t pos = tell();
    return total < 0 || static_cast<uint64_t>(total) < pos ? 0 : total - pos;
}

size_t CFileReader::read(void* buffer, size_t n) {
    if (fd_ < 0)
        return 0;
    if (pending_)
        writeOut();
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    size_t buffered = std::min(n, readEnd_ - readPos_);
    if (buffered) {
        std::memcpy(out, stage_.get() + readPos_, buffered);
        readPos_ += buffered;
        done = buffered;
    }
    while (done < n) {
        if (n - done >= kDirectRead) { // bulk transfer: straight into the caller's buffer
            readPos_ = readEnd_ = 0;   // the window no longer ends at the descriptor's position
            ssize_t got = ::read(fd_, out + done, n - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<size_t>(got);
            continue;
        }
        ssize_t got = ::read(fd_, stage(), kStageSize);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        readPos_ = 0;
        readEnd_ = static_cast<size_t>(got);
        size_t take = std::min(n - done, readEnd_);
        std::memcpy(out + done, stage_.get(), take);
        readPos_ = take;
        done += take;
    }
    return done;
}

size_t CFileReader::write(const void* buffer, size_t n) {
    // An empty string's bytes come from an empty vector, whose data() may be null.
    if (fd_ < 0 || n == 0)
        return 0;
    dropReadAhead();
    const auto* in = static_cast<const uint8_t*>(buffer);
    if (writeObserver_)
        writeObserver_(in, n);
    if (pending_ + n <= kStageSize && n < kStageSize / 2) {
        std::memcpy(stage() + pending_, in, n);
        pending_ += n;
        return n;
    }
    if (!flush())
        return 0;
    size_t done = 0;
    while (done < n) {
        ssize_t put = ::write(fd_, in + done, n - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        done += static_cast<size_t>(put);
    }
    return done;
}

void CInputFile::open(const std::u16string& path) {
    if (fd_ >= 0)
        close(fd_);
    fd_ = openForReading(path);
    if (fd_ < 0)
        TK_RAISE_SYSTEM(u"Unable to ioen file:" + path);
}

void CFileReader::adviseSequential() {
    if (fd_ >= 0)
        posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

COutputFile::~COutputFile() {
    if (fd_ >= 0)
        flush();
}

void COutputFile::open(const std::u16string& path) {
    if (fd_ >= 0)
        close(fd_);
    // O_NOFOLLOW: a link planted where a file is to be written must not redirect the write.
    fd_ = openPath(nativePath(path), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd_ < 0)
        TK_RAISE_SYSTEM(u"Unable to open file:" + path);
}

void COutputFile::adopt(int fd) {
    if (fd_ >= 0)
        close(fd_);
    fd_ = fd;
}

} // namespace ostmere
