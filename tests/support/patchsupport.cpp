#include "patchsupport.h"

#include "patch/metadatarecord.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <pugixml.hpp>

namespace testing_support {

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CTKErr& e) {
        return utf16ToUtf8(e.message);
    } catch (const COPCancel&) {
        return "cancelled";
    }
    return "no error";
}

void diffPatch(const fs::path& older, const fs::path& newer, const fs::path& patch,
               const std::string& filter) {
    RecordingSink sink;
    tkDiffCreatePatch(&sink, u16(older), u16(newer), u16(patch), u"", utf8ToUtf16(filter));
}

std::u16string fingerprintOf(const fs::path& dir, const std::string& filter) {
    RecordingSink sink;
    return tkFingerprint(&sink, u16(dir), utf8ToUtf16(filter));
}

ostmere::CPatchInfo loadInfo(const fs::path& patch) {
    RecordingSink sink;
    return ostmere::loadPatchInfo(&sink, u16(patch));
}

void copyTree(const fs::path& from, const fs::path& to) {
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

std::string hexBytes(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 0xF];
    }
    return out;
}

void writeCraftedPatch(const fs::path& patch, const ostmere::CPatchInfo& info,
                       std::vector<StoredFile> files) {
    using namespace ostmere;
    for (auto& f : files)
        if (f.tableKey.empty())
            f.tableKey = f.path;
    std::sort(files.begin(), files.end(),
              [](const StoredFile& a, const StoredFile& b) { return a.tableKey < b.tableKey; });
    fs::remove(patch);
    COutputFile out(u16(patch));
    out.writeBuffer(kPatchMagic, kPatchMagicSize);
    out.writeQword(0);
    out.writeDword(0);
    writePatchInfoBlock(out, info);
    FileTable table;
    for (const auto& f : files) {
        table[f.tableKey] = out.tell();
        out.writeType(TYPE_FILE);
        out.writeString(f.path);
        out.writeQword(f.content.size());
        out.writeBuffer(f.content.data(), f.content.size());
    }
    const uint64_t tablePosition = out.tell();
    out.writeFileTable(table);
    if (info.hasMetadata)
        writeMetadataRecord(out, info);
    out.seek(kPatchMagicSize);
    out.writeQword(tablePosition);
    out.writeDword(1);
    ASSERT_TRUE(out.flush());
}

namespace {

void collectTree(const pugi::xml_node& node, const std::string& prefix,
                 std::vector<std::string>& out) {
    for (pugi::xml_node child : node.children("fNode")) {
        std::string path = prefix + "\\" + child.attribute("path").value();
        if (child.attribute("attr"))
            path += std::string(" attr=") + child.attribute("attr").value();
        out.push_back(path);
        collectTree(child, prefix + "\\" + child.attribute("path").value(), out);
    }
}

} // namespace

ReportContent readReport(const fs::path& report) {
    ReportContent content;
    pugi::xml_document doc;
    if (!doc.load_file(report.c_str()))
        return content;
    pugi::xml_node top = doc.document_element().child("tkDiffPatchReport");
    for (pugi::xml_node list : top.children()) {
        auto& items = content[list.name()];
        if (std::string(list.name()) == "PatchInfo") {
            for (pugi::xml_node e : list.children())
                items.push_back(std::string(e.attribute("name").value()) + "=" +
                                e.attribute("value").value());
        } else if (list.attribute("filter")) {
            content[std::string("filter:") + list.name()].push_back(
                list.attribute("filter").value());
            for (pugi::xml_node e : list.children())
                items.push_back(e.attribute("path").value());
        } else {
            collectTree(list, "", items);
        }
    }
    return content;
}

} // namespace testing_support
