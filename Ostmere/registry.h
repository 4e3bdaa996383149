// Field histories across runs: every combo box keeps its ten most recent values and every
// check box its last state in the per-user settings store, under "Tamsket"/"Ostmere".
#pragma once

#include "visitors.h"

#include <QByteArray>
#include <QSettings>
#include <QStringList>
#include <optional>

namespace history {
constexpr const char* organisation = "Tamsket";
constexpr const char* application = "Ostmere";
constexpr int maxEntries = 10;
constexpr qsizetype maxListBytes = 4096; // larger values are not read back

// A string list in the byte form of an archived MFC CStringList: the element count, then for
// each string a Unicode marker, its length and its UTF-16LE code units. Little-endian.
QByteArray serializeStringList(const QStringList& list);
// Empty optional when the bytes are not a complete list of that form.
std::optional<QStringList> parseStringList(const QByteArray& bytes);
} // namespace history

// One opened application key of the settings store; closed (and flushed) when destroyed.
class CRegistry {
  public:
    CRegistry();

    void writeNumber(const QString& name, uint32_t value);
    // True only when the value exists and holds a number.
    bool readNumber(const QString& name, uint32_t& value);
    void writeStringList(const QString& name, const QStringList& list);
    // True when the value exists, holds raw bytes of at most 4096 bytes and parses.
    bool readStringList(const QString& name, QStringList& list);

  private:
    QSettings settings_;
};

// Fills a page's combo boxes and check boxes from the store.
class CRegistryReader : public CDlgItemsItSink {
  public:
    void visit(const std::u16string& key, QWidget* control) override;
};

// Stores a page's combo boxes (most recent first, distinct, at most ten) and check boxes.
class CRegistryWriter : public CDlgItemsItSink {
  public:
    void visit(const std::u16string& key, QWidget* control) override;
};
